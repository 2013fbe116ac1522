// The program inside the installers it is made for, run as their users run
// them in the Wine prefix: the MSI with msiexec, the NSIS example installer
// (built for makensis's default 32-bit target, and as a 64-bit installer)
// with its window and silently, the Inno Setup example silently with a log,
// and the batch example with cmd. Each must leave the program's message
// where its user looks for it. The MSI also upgrades the MSIs of releases
// 1.0.0 and 1.2.1, repairs, and refuses the earlier version.
#include <windows.h>
// After windows.h, which it needs.
#include <msi.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "tests/windows/child_process.h"
#include "tests/windows/installed_products.h"
#include "tests/windows/services_file.h"
#include "tests/windows/test_files.h"

#if !defined(SVCENTRY_PRODUCT)
#error "The product's name must be given"
#endif

namespace svcentry {
namespace {

const std::string kMsiexec = SystemProgram("msiexec.exe");
const std::string kCmd = SystemProgram("cmd.exe");
// Where the MSI and the Inno Setup example put their files.
const std::string kMsiDirectory = ProgramFilesDirectory() + "\\svcentry";
const std::string kInnoDirectory = ProgramFilesDirectory() + "\\Example";
// The logs the tests ask msiexec and the Inno Setup example to write.
const std::string kMsiLog = TemporaryDirectory() + "\\svcentry-msi.log";
const std::string kInnoLog = TemporaryDirectory() + "\\svcentry-inno.log";
// What Windows Installer answers for a failed install: 1603 on Windows.
constexpr std::uint32_t kInstallFailure = ERROR_INSTALL_FAILURE;
// A repair that reinstalls every file and runs the action again.
const std::string kRepair = " REINSTALL=ALL REINSTALLMODE=vamus";

std::string Verbatim(const std::string& message) { return message; }

// Windows Installer logs the message as a line of its own (the logs are
// read without their CRs).
std::string AsMsiLogsIt(const std::string& message) {
  return "\n" + message + "\n";
}

// Where the MSI log holds the message. A deferred action only schedules
// itself where the sequence reaches it, and runs while InstallFinalize
// executes the script, so the message stands after the line that starts
// InstallFinalize; Wine 8.0's msiexec logs it there too.
void ExpectLoggedInItsPlace(const std::string& log,
                            const std::string& message) {
  const std::size_t finalize = log.find(": InstallFinalize.\n");
  EXPECT_TRUE(finalize != std::string::npos &&
              log.find(AsMsiLogsIt(message), finalize) != std::string::npos)
      << "the message is not where Windows logs a deferred action's "
         "message:\n"
      << log;
}

// How the MSI log ends a failed action: "Return value 3.", a fatal error,
// as Windows Installer documents it. Wine's msiexec ends the failed
// deferred action with "Return value 0.": accepted under Wine only.
void ExpectLoggedAsFailed(const std::string& log) {
  const std::string ended = ": RegisterServiceEntry. Return value ";
  if (log.find(ended + "3.\n") != std::string::npos) {
    SaySeen(
        "the failed action ended with \"Return value 3.\", as Windows "
        "documents");
  } else if (log.find(ended + "0.\n") != std::string::npos && RunsUnderWine()) {
    SaySeen(
        "the failed action ended with \"Return value 0.\", as Wine's "
        "msiexec ends it");
  } else {
    ADD_FAILURE() << "the log does not end the action as failed:\n" << log;
  }
}

// Inno Setup reads the program's output as UTF-8: the byte 0xB9 is none,
// and its log shows U+FFFD in its place.
std::string AsInnoLogsIt(const std::string& message) {
  std::string logged;
  for (const char byte : message) {
    logged +=
        byte == '\xB9' ? std::string("\xEF\xBF\xBD") : std::string(1, byte);
  }
  return logged;
}

struct Installer {
  const char* name = "";
  // The example's file its build test makes ("" for one the build makes),
  // and whether it is a 32-bit program.
  std::string example{};
  bool is_32_bit = false;
  std::string program{};
  // Its arguments for a first install, and for a second one over it.
  std::string install{};
  std::string install_again{};
  // The program and arguments that remove what it installed; "" for none.
  std::string uninstaller{};
  std::string uninstall{};
  // The directory it installs into and the files it puts there; "" and
  // none for none.
  std::string directory{};
  std::vector<std::string> files{};
  // Where its user reads the program's message: a log it writes ("" for
  // none), or standard output.
  std::string log{};
  bool console = false;
  // How the log spells a message, and whether it is the MSI's, which logs
  // it where the deferred action runs.
  std::string (*as_logged)(const std::string&) = Verbatim;
  bool deferred = false;
  // How it reports a failure: its exit code; the text before the program's
  // message in the one message box it shows, and in its log ("" for none);
  // and what it writes to standard error.
  std::uint32_t failure_exit = 0;
  std::string failure_box{};
  std::string failure_logged{};
  std::string failure_error{};
};

void PrintTo(const Installer& installer, std::ostream* out) {
  *out << installer.name;
}

bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A log's text with its lines ending in LF alone, as Wine and Windows end
// them differently.
std::string LogText(const std::string& path) {
  std::string text = Contents(path);
  std::erase(text, '\r');
  return text;
}

// Whether `program`, a 32-bit program, starts here and ends with exit code
// 0 when run with `arguments`, within a minute.
bool Starts(const std::string& program, const std::string& arguments) {
  std::string command = "\"" + program + "\" " + arguments;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE,
                      CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process)) {
    return false;
  }
  constexpr DWORD kMinute = 60000;
  DWORD exit_code = 1;
  if (WaitForSingleObject(process.hProcess, kMinute) != WAIT_OBJECT_0 ||
      !GetExitCodeProcess(process.hProcess, &exit_code)) {
    TerminateProcess(process.hProcess, 1);
    exit_code = 1;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return exit_code == 0;
}

// Why `installer` cannot run on this system, or "" when it can: the reason
// its example's build test gave for skipping, beside where the example
// would be (its tool is not installed); or, for a 32-bit installer, that
// the system has no WOW64 directory.
std::string WhyItCannotRun(const Installer& installer) {
  if (!installer.example.empty() && !Exists(installer.example)) {
    const std::string directory =
        installer.example.substr(0, installer.example.rfind('\\') + 1);
    return Contents(directory + "skipped.txt");
  }
  char wow64[MAX_PATH] = {};
  if (installer.is_32_bit && GetSystemWow64DirectoryA(wow64, MAX_PATH) == 0) {
    return "skipped: this system runs no 32-bit programs: it has no WOW64 "
           "directory";
  }
  return "";
}

// The 32-bit cmd of the WOW64 directory, which must start where that
// directory is. Under Wine, it is filled only by a boot with Wine's 32-bit
// side, and its programs start only where that side does.
std::string Wow64Cmd() {
  char wow64[MAX_PATH] = {};
  GetSystemWow64DirectoryA(wow64, MAX_PATH);
  return std::string(wow64) + "\\cmd.exe";
}

// Inno Setup's uninstaller ends while a copy of it still removes the last
// files and the directory, so their going is waited for, half a minute at
// the most.
bool Vanishes(const std::string& path) {
  constexpr int kPolls = 300;
  for (int poll = 0; poll < kPolls && Exists(path); ++poll) {
    Sleep(100);
  }
  return !Exists(path);
}

// The product codes of the installed products named svcentry.
std::vector<std::string> ListedProducts() {
  return InstalledProducts(SVCENTRY_PRODUCT);
}

// The version Windows Installer records for the product `code`.
std::string ProductVersion(const std::string& code) {
  char version[64] = {};
  DWORD size = sizeof version;
  return MsiGetProductInfoA(code.c_str(), INSTALLPROPERTY_VERSIONSTRING,
                            version, &size) == ERROR_SUCCESS
             ? version
             : "";
}

// The paths are quoted for the command line: a build directory may hold
// spaces.
const std::string kMsiInstall =
    "/i \"" + kMsi + "\" /qn /l*v \"" + kMsiLog + "\"";
// cmd keeps the quotes of /c "PATH" only when PATH holds none of
// ( ) & ^ @, as a folder unpacked twice does ("... (1)"); with /s it strips
// the outer pair alone.
const std::string kBatchCommand = "/s /c \"\"" + kBatch + "\"\"";
const std::string kInnoInstall =
    "/VERYSILENT /SUPPRESSMSGBOXES /NORESTART /LOG=\"" + kInnoLog + "\"";
// What the NSIS and Inno Setup examples say before the program's message
// when it fails.
const std::string kNotRegistered =
    "The gds_db service could not be registered (svcentry.exe exit code: 1).";

// The NSIS example as built for one target, `setup`, run with its window:
// a failure shows the message in a box.
Installer NsisWithWindow(const char* name, const std::string& setup,
                         bool is_32_bit) {
  return {.name = name,
          .example = setup,
          .is_32_bit = is_32_bit,
          .program = setup,
          .failure_exit = 2,
          .failure_box = kNotRegistered + "\r\n\r\n"};
}

// The same, run silently: no box.
Installer NsisSilent(const char* name, const std::string& setup,
                     bool is_32_bit) {
  Installer silent = NsisWithWindow(name, setup, is_32_bit);
  silent.install = "/S";
  silent.install_again = "/S";
  silent.failure_box = "";
  return silent;
}

const std::vector<Installer> kInstallers = {
    // The second install is a repair, which runs the action again.
    {.name = "Msi",
     .program = kMsiexec,
     .install = kMsiInstall,
     .install_again = kMsiInstall + kRepair,
     .uninstaller = kMsiexec,
     .uninstall = "/x \"" + kMsi + "\" /qn",
     .directory = kMsiDirectory,
     .files = {"svcentry.exe", "LICENSE", "THIRD-PARTY-NOTICES.txt"},
     .log = kMsiLog,
     .as_logged = AsMsiLogsIt,
     .deferred = true,
     .failure_exit = kInstallFailure},
    NsisWithWindow("NsisX86WithWindow", kNsisX86Setup, true),
    NsisSilent("NsisX86Silent", kNsisX86Setup, true),
    NsisWithWindow("NsisAmd64WithWindow", kNsisAmd64Setup, false),
    NsisSilent("NsisAmd64Silent", kNsisAmd64Setup, false),
    // Setup stops before it installs anything: exit code 7.
    {.name = "InnoSetup",
     .example = kInnoSetup,
     .is_32_bit = true,
     .program = kInnoSetup,
     .install = kInnoInstall,
     .install_again = kInnoInstall,
     .uninstaller = kInnoDirectory + "\\unins000.exe",
     .uninstall = "/VERYSILENT /SUPPRESSMSGBOXES",
     .directory = kInnoDirectory,
     .files = {"LICENSE", "THIRD-PARTY-NOTICES.txt"},
     .log = kInnoLog,
     .as_logged = AsInnoLogsIt,
     .failure_exit = 7,
     .failure_logged = "PrepareToInstall failed: " + kNotRegistered + " "},
    {.name = "Batch",
     .example = kBatch,
     .program = kCmd,
     .install = kBatchCommand,
     .install_again = kBatchCommand,
     .console = true,
     .failure_exit = 1,
     .failure_error = "The gds_db service could not be registered.\r\n"},
};

// Runs `installer` with `arguments` while `holder` holds the services file,
// and expects the program's `message` where its user reads it.
ProgramRun Install(const Installer& installer, const std::string& arguments,
                   Holder holder, const std::string& message) {
  DeleteFileA(installer.log.c_str());
  ProgramRun run = RunHolding(holder, installer.program, arguments);
  SaySeen(std::string(installer.name) + ": " + Described(run));
  if (!installer.log.empty()) {
    const std::string log = LogText(installer.log);
    EXPECT_NE(log.find(installer.as_logged(message)), std::string::npos)
        << "the log does not hold " << ::testing::PrintToString(message)
        << ":\n"
        << log;
    if (installer.deferred) {
      ExpectLoggedInItsPlace(log, message);
    }
  }
  if (installer.console) {
    EXPECT_EQ(run.standard_output.substr(0, message.size()), message);
  }
  return run;
}

class Installers : public ServicesFileTest,
                   public ::testing::WithParamInterface<Installer> {};

TEST_P(Installers, LeaveTheMessageWhereTheirUserLooks) {
  const Installer& installer = GetParam();
  const std::string cannot_run = WhyItCannotRun(installer);
  if (!cannot_run.empty()) {
    GTEST_SKIP() << cannot_run;
  }
  // A WOW64 directory whose programs do not start is a fault, not a
  // missing part: under Wine, a 32-bit side that is broken, or a prefix
  // booted without it (scripts/wine PREFIX --32-bit says which).
  if (installer.is_32_bit) {
    ASSERT_TRUE(Starts(Wow64Cmd(), "/c exit 0"))
        << Wow64Cmd() << " does not start";
  }
  // A build that neither made the example nor said why it skipped is a
  // fault: a build left out, say.
  ASSERT_TRUE(installer.example.empty() || Exists(installer.example))
      << installer.example << " was not built, and its build gave no reason";
  if (installer.program == installer.example) {
    DWORD binary_type = 0;
    ASSERT_TRUE(GetBinaryTypeA(installer.program.c_str(), &binary_type));
    EXPECT_EQ(binary_type,
              installer.is_32_bit ? SCS_32BIT_BINARY : SCS_64BIT_BINARY);
  }
  const auto installed = [&installer](const std::string& file) {
    return installer.directory + "\\" + file;
  };
  if (!installer.uninstall.empty() && Exists(installer.uninstaller)) {
    // Whatever an earlier run left installed goes.
    RunProgram(installer.uninstaller, installer.uninstall);
    ASSERT_TRUE(Vanishes(installer.directory));
  }
  Establish(File(kEcho));
  const Services registered = File(kEcho + kEntryLine);

  ProgramRun run =
      Install(installer, installer.install, Holder::kNone, kAddedMessage);
  EXPECT_EQ(run.exit_code, 0U) << run.standard_output << run.standard_error;
  EXPECT_EQ(run.message_boxes, std::vector<std::string>{});
  EXPECT_EQ(run.standard_error, "");
  EXPECT_EQ(Observe(), registered);
  EXPECT_EQ(RunProgram(kServiceLookup).standard_output, "3050\r\n");
  for (const std::string& file : installer.files) {
    EXPECT_TRUE(Exists(installed(file))) << file;
  }

  run = Install(installer, installer.install_again, Holder::kNone,
                kExistsMessage);
  EXPECT_EQ(run.exit_code, 0U) << run.standard_output << run.standard_error;
  EXPECT_EQ(run.message_boxes, std::vector<std::string>{});
  EXPECT_EQ(Observe(), registered);

  if (!installer.uninstall.empty()) {
    // Other software may use the entry: uninstalling leaves it, and nothing
    // else.
    EXPECT_EQ(RunProgram(installer.uninstaller, installer.uninstall).exit_code,
              0U);
    EXPECT_TRUE(Vanishes(installer.directory));
    EXPECT_EQ(Observe(), registered);
  }
  EXPECT_EQ(ListedProducts(), std::vector<std::string>{});

  // The services file is held by a program that lets others only read it:
  // the install fails and leaves nothing behind.
  Establish(File(kEcho));
  const std::string refused = CantOpenMessage("writing", 32);
  run = Install(installer, installer.install, Holder::kReadersOnly, refused);
  EXPECT_EQ(run.exit_code, installer.failure_exit);
  std::vector<std::string> boxes;
  if (!installer.failure_box.empty()) {
    boxes.push_back(installer.failure_box + refused);
  }
  if (!installer.failure_logged.empty()) {
    EXPECT_NE(
        LogText(installer.log)
            .find(installer.as_logged(installer.failure_logged + refused)),
        std::string::npos);
  }
  if (installer.deferred) {
    ExpectLoggedAsFailed(LogText(installer.log));
  }
  EXPECT_EQ(run.message_boxes, boxes);
  EXPECT_EQ(run.standard_error, installer.failure_error);
  EXPECT_EQ(Observe(), File(kEcho));
  EXPECT_TRUE(installer.directory.empty() || !Exists(installer.directory));
  EXPECT_EQ(ListedProducts(), std::vector<std::string>{});
}

// A program that ends with a negative exit code, as one that crashes or
// lacks a DLL does, fails the batch example too: `if errorlevel 1` alone
// would take it for success.
TEST(BatchExample, FailsWhenTheProgramEndsWithANegativeCode) {
  char temporary[MAX_PATH] = {};
  ASSERT_NE(GetTempPathA(MAX_PATH, temporary), 0U);
  const std::string directory = std::string(temporary) + "svcentry-batch";
  CreateDirectoryA(directory.c_str(), nullptr);
  ASSERT_TRUE(
      CopyFileA(kBatch.c_str(), (directory + "\\install.cmd").c_str(), FALSE));
  ASSERT_TRUE(CopyFileA(kExitCodeProgram.c_str(),
                        (directory + "\\svcentry.exe").c_str(), FALSE));
  for (const char* code : {"C0000005", "C0000135"}) {
    SetEnvironmentVariableA("SVCENTRY_EXIT_CODE", code);
    const ProgramRun run =
        RunProgram(kCmd, "/s /c \"\"" + directory + "\\install.cmd\"\"");
    EXPECT_EQ(run.exit_code, 1U) << code;
    EXPECT_EQ(run.standard_error,
              "The gds_db service could not be registered.\r\n")
        << code;
  }
  SetEnvironmentVariableA("SVCENTRY_EXIT_CODE", nullptr);
}

// Each case starts and ends with no svcentry product installed, so that a
// case that fails midway leaves none to the next, or on the machine.
class MsiRelease : public ServicesFileTest {
 protected:
  void SetUp() override {
    ServicesFileTest::SetUp();
    UninstallAll();
  }
  void TearDown() override { UninstallAll(); }

 private:
  static void UninstallAll() {
    for (const std::string& code : ListedProducts()) {
      RunProgram(kMsiexec, "/x " + code + " /qn");
    }
  }
};

// Release 1.0.0's MSI ran svcentry.exe as its action; this one runs the
// custom action DLL. An administrator's fleet moves from one to the other,
// repairs and may try to go back.
TEST_F(MsiRelease, UpgradesRepairsAndRefusesTheEarlierVersion) {
  const std::string released =
      "/i \"" + kMsiReleased + "\" /qn /l*v \"" + kMsiLog + "\"";
  Establish(File(kEcho));
  const Services registered = File(kEcho + kEntryLine);
  DeleteFileA(kMsiLog.c_str());
  ASSERT_EQ(RunProgram(kMsiexec, released).exit_code, 0U);
  ASSERT_EQ(Observe(), registered);
  // It ran svcentry.exe itself, whose message Windows Installer does not
  // keep: the log names the action, and holds no message.
  const std::string exe_log = Contents(kMsiLog);
  EXPECT_NE(exe_log.find("RegisterServiceEntry"), std::string::npos);
  EXPECT_EQ(exe_log.find(kAddedMessage), std::string::npos);

  // The upgrade replaces 1.0.0: one product, with every file of this one.
  DeleteFileA(kMsiLog.c_str());
  EXPECT_EQ(RunProgram(kMsiexec, kMsiInstall).exit_code, 0U);
  ExpectLoggedInItsPlace(LogText(kMsiLog), kExistsMessage);
  EXPECT_EQ(ListedProducts().size(), 1U);
  EXPECT_TRUE(Exists(kMsiDirectory + "\\THIRD-PARTY-NOTICES.txt"));
  EXPECT_EQ(Observe(), registered);

  // 1.0.0 is refused over it, which stays as it was.
  EXPECT_EQ(RunProgram(kMsiexec, released).exit_code, kInstallFailure);
  EXPECT_EQ(ListedProducts().size(), 1U);
  EXPECT_TRUE(Exists(kMsiDirectory + "\\THIRD-PARTY-NOTICES.txt"));

  // A repair runs the action again, which brings back an entry that was
  // deleted since the install.
  Establish(File(kEcho));
  DeleteFileA(kMsiLog.c_str());
  EXPECT_EQ(RunProgram(kMsiexec, kMsiInstall + kRepair).exit_code, 0U);
  ExpectLoggedInItsPlace(LogText(kMsiLog), kAddedMessage);
  EXPECT_EQ(Observe(), registered);

  // Windows Installer's own form of a repair, /fa, which Wine's msiexec
  // refuses (exit code 1, or 1605 as if the product were not installed):
  // accepted under Wine only.
  const std::uint32_t repaired =
      RunProgram(kMsiexec, "/fa \"" + kMsi + "\" /qn").exit_code;
  if (repaired == 0) {
    SaySeen("/fa repaired, as Windows documents");
  } else if (RunsUnderWine()) {
    SaySeen("/fa refused with exit code " + std::to_string(repaired) +
            ", as Wine's msiexec refuses it");
  } else {
    ADD_FAILURE() << "/fa ended with exit code " << repaired;
  }
  EXPECT_EQ(Observe(), registered);

  // With its full user interface, a failed repair shows the message in a
  // dialog, and changes nothing.
  Establish(File(kEcho));
  const ProgramRun failed = RunHolding(Holder::kReadersOnly, kMsiexec,
                                       "/i \"" + kMsi + "\"" + kRepair);
  EXPECT_EQ(failed.exit_code, kInstallFailure);
  EXPECT_EQ(failed.message_boxes,
            std::vector<std::string>{CantOpenMessage("writing", 32)});
  EXPECT_EQ(Observe(), File(kEcho));

  // A fleet tool removes it by its product code; the entry stays.
  const std::vector<std::string> products = ListedProducts();
  ASSERT_EQ(products.size(), 1U);
  EXPECT_EQ(RunProgram(kMsiexec, "/x " + products.front() + " /qn").exit_code,
            0U);
  EXPECT_EQ(ListedProducts(), std::vector<std::string>{});
  EXPECT_FALSE(Exists(kMsiDirectory));
  EXPECT_EQ(Observe(), File(kEcho));
}

// Release 1.2.1's MSI runs the same action. Installed over it, this one
// takes its place: one product, at this version, and the entry once.
TEST_F(MsiRelease, UpgradesTheLastReleaseInPlace) {
  Establish(File(kEcho));
  const Services registered = File(kEcho + kEntryLine);
  ASSERT_EQ(
      RunProgram(kMsiexec, "/i \"" + kMsiLastRelease + "\" /qn").exit_code, 0U);
  ASSERT_EQ(Observe(), registered);

  DeleteFileA(kMsiLog.c_str());
  EXPECT_EQ(RunProgram(kMsiexec, kMsiInstall).exit_code, 0U);
  ExpectLoggedInItsPlace(LogText(kMsiLog), kExistsMessage);
  const std::vector<std::string> products = ListedProducts();
  ASSERT_EQ(products.size(), 1U);
  EXPECT_EQ(ProductVersion(products.front()), SVCENTRY_VERSION);
  EXPECT_EQ(Observe(), registered);
  EXPECT_EQ(RunProgram(kMsiexec, "/x " + products.front() + " /qn").exit_code,
            0U);
}

std::string InstallerName(
    const ::testing::TestParamInfo<Installer>& param_info) {
  return param_info.param.name;
}

INSTANTIATE_TEST_SUITE_P(ServicesFile, Installers,
                         ::testing::ValuesIn(kInstallers), InstallerName);

}  // namespace
}  // namespace svcentry
