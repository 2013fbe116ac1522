#include "tests/e2e_support.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <iterator>

namespace svcentry::e2e {

namespace {

namespace fs = std::filesystem;

// What a child exits with when it could not start the program; the tool
// itself only ever exits 0 or 1.
constexpr int kLaunchFailed = 125;

// Between fork and exec only async-signal-safe calls are made.
[[noreturn]] void Abandon(const char* step) {
  static constexpr char kPrefix[] = "launch failed: ";
  (void)!write(STDERR_FILENO, kPrefix, sizeof kPrefix - 1);
  (void)!write(STDERR_FILENO, step, std::strlen(step));
  _exit(kLaunchFailed);
}

bool BecomeUser(const Identity& identity) {
  return setgroups(0, nullptr) == 0 && setgid(identity.gid) == 0 &&
         setuid(identity.uid) == 0;
}

[[noreturn]] void ExecuteInChild(const Launch& launch, char* const* argv,
                                 int input, int output, int error) {
  if (dup2(input, STDIN_FILENO) < 0 || dup2(output, STDOUT_FILENO) < 0 ||
      dup2(error, STDERR_FILENO) < 0) {
    _exit(kLaunchFailed);
  }
  char byte = 0;
  if (launch.start_gate >= 0 && read(launch.start_gate, &byte, 1) != 1) {
    Abandon("start gate");
  }
  if (launch.file_size_limit) {
    // An ignored signal stays ignored across exec.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    const rlimit limit{*launch.file_size_limit, *launch.file_size_limit};
    if (sigaction(SIGXFSZ, &ignore, nullptr) != 0 ||
        setrlimit(RLIMIT_FSIZE, &limit) != 0) {
      Abandon("file size limit");
    }
  }
  if (launch.identity && !BecomeUser(*launch.identity)) {
    Abandon("identity");
  }
  execv(argv[0], argv);
  Abandon("exec");
}

std::string ReadAll(int fd) {
  std::string text;
  char block[512];
  for (;;) {
    const ssize_t got = read(fd, block, sizeof block);
    if (got > 0) {
      text.append(block, static_cast<std::size_t>(got));
    } else if (got == 0 || errno != EINTR) {
      break;
    }
  }
  close(fd);
  return text;
}

}  // namespace

Child StartProgram(const Launch& launch) {
  std::vector<std::string> words{SVCENTRY_E2E_PROGRAM};
  words.insert(words.end(), launch.arguments.begin(), launch.arguments.end());
  std::vector<char*> argv;
  argv.reserve(words.size() + 1);
  for (std::string& word : words) {
    argv.push_back(word.data());
  }
  argv.push_back(nullptr);

  // Close-on-exec everywhere: no child keeps another one's pipes open.
  int output[2] = {-1, -1};
  int error[2] = {-1, -1};
  const int input = open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (input < 0 || pipe2(output, O_CLOEXEC) != 0 ||
      pipe2(error, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "no pipes for the program: " << std::strerror(errno);
    for (const int fd : {input, output[0], output[1], error[0], error[1]}) {
      close(fd);
    }
    return {};
  }
  const pid_t pid = fork();
  if (pid == 0) {
    ExecuteInChild(launch, argv.data(), input, output[1], error[1]);
  }
  close(input);
  close(output[1]);
  close(error[1]);
  if (pid < 0) {
    ADD_FAILURE() << "fork failed: " << std::strerror(errno);
    close(output[0]);
    close(error[0]);
    return {};
  }
  return {pid, output[0], error[0]};
}

Outcome FinishProgram(const Child& child) {
  Outcome outcome;
  if (child.pid < 0) {
    return outcome;
  }
  // The tool writes one short message, far less than a pipe holds, so
  // reading one stream to its end before the other cannot stall it.
  outcome.standard_output = ReadAll(child.standard_output);
  outcome.standard_error = ReadAll(child.standard_error);
  int status = 0;
  while (waitpid(child.pid, &status, 0) < 0 && errno == EINTR) {
  }
  outcome.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return outcome;
}

bool CanReach(const Identity& identity, const fs::path& directory) {
  const pid_t pid = fork();
  if (pid == 0) {
    const bool reached = BecomeUser(identity) &&
                         access(directory.c_str(), X_OK) == 0 &&
                         access(SVCENTRY_E2E_PROGRAM, X_OK) == 0;
    _exit(reached ? 0 : 1);
  }
  int status = 0;
  return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
         WEXITSTATUS(status) == 0;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

void SandboxTest::SetUp() {
  // A file system a killed run left mounted there would keep the directory
  // from being removed; without the rights to unmount there is none.
  umount2(kDrivers.c_str(), MNT_DETACH);
  fs::remove_all(kDrivers);
}

}  // namespace svcentry::e2e
