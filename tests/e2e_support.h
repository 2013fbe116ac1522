// Runs the built program in child processes against its own sandbox system
// directory, under the limits and the identity a test asks for.
#pragma once

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#ifndef SVCENTRY_E2E_PROGRAM
#error "SVCENTRY_E2E_PROGRAM must name the program under test"
#endif

namespace svcentry::e2e {

inline const std::filesystem::path kSystemDirectory =
    SVCENTRY_E2E_SYSTEM_DIRECTORY;
inline const std::filesystem::path kDrivers = kSystemDirectory / "Drivers";
inline const std::filesystem::path kServices = kDrivers / "etc" / "services";
inline const std::string kPrintedPath =
    std::string(SVCENTRY_E2E_SYSTEM_DIRECTORY) + "\\Drivers\\etc\\services";
inline const std::string kEntry = "gds_db           3050/tcp";
inline const std::string kEntryLine = kEntry + "\r\n";
inline const std::string kAddedMessage = "String '" + kEntry +
                                         "' was successfully added to file " +
                                         kPrintedPath + "\n";
inline const std::string kExistsMessage =
    "String '" + kEntry + "' in file " + kPrintedPath + " already exists\n";

/// The message of a refused open; `purpose` is "reading" or "writing".
inline std::string OpenFailure(const char* purpose, int error) {
  return "Can't open file " + kPrintedPath + " for " + purpose +
         ". Error \xB9" + std::to_string(error);
}

inline std::string AppendFailure(int error) {
  return "Can't append file " + kPrintedPath + ". Error \xB9" +
         std::to_string(error);
}

struct Identity {
  uid_t uid = 0;
  gid_t gid = 0;
};

struct Launch {
  std::vector<std::string> arguments{};
  /// RLIMIT_FSIZE in bytes. SIGXFSZ is ignored, so that a write past the
  /// limit fails with EFBIG (or comes up short) instead of killing the tool.
  std::optional<rlim_t> file_size_limit{};
  /// The user to run as instead of the test's own.
  std::optional<Identity> identity{};
  /// The read end of a pipe: the child takes one byte from it before it
  /// starts the program, so that several can be released at once.
  int start_gate = -1;
};

struct Outcome {
  int exit_code = -1;
  std::string standard_output;
  std::string standard_error;
};

struct Child {
  pid_t pid = -1;
  int standard_output = -1;
  int standard_error = -1;
};

/// Starts the program under test with stdin on /dev/null and both output
/// streams on pipes. Fails the test (pid -1) when no child could be made.
Child StartProgram(const Launch& launch);

/// Collects the child's output and waits for it to end.
Outcome FinishProgram(const Child& child);

inline Outcome RunProgram(const Launch& launch = {}) {
  return FinishProgram(StartProgram(launch));
}

/// Whether `identity` may search `directory` and run the program under test.
bool CanReach(const Identity& identity, const std::filesystem::path& directory);

std::string ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const std::string& bytes);

/// Gives each test an empty sandbox: no Drivers directory at all.
class SandboxTest : public ::testing::Test {
 protected:
  void SetUp() override;
};

}  // namespace svcentry::e2e
