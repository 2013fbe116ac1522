// The program inside the installers it is made for, run as their users run
// them in the Wine prefix: the MSI with msiexec, the NSIS example installer
// with its window, and the batch example with cmd.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "tests/windows/child_process.h"
#include "tests/windows/services_file.h"

#if !defined(SVCENTRY_MSI) || !defined(SVCENTRY_MSI_NEXT) ||     \
    !defined(SVCENTRY_NSIS_SETUP) || !defined(SVCENTRY_BATCH) || \
    !defined(SVCENTRY_SERVICE_LOOKUP)
#error "The installers under test must be named"
#endif

namespace svcentry {
namespace {

const std::string kMsiexec = "C:\\windows\\system32\\msiexec.exe";
const std::string kCmd = "C:\\windows\\system32\\cmd.exe";
// Where the MSI puts the program.
const std::string kInstalledProgram =
    "C:\\Program Files\\svcentry\\svcentry.exe";

struct Installer {
  const char* name;
  std::string program;
  // Its arguments for a first install, and for a second one.
  std::string install;
  std::string install_again;
  // Its arguments that remove what the second install left; "" for none.
  std::string uninstall;
  // The program it leaves on the machine; "" for none.
  std::string installed;
  // How it reports a failure: the exit code (none for any but 0), the
  // message boxes it shows and what it writes to standard error.
  std::optional<std::uint32_t> failure_exit;
  std::vector<std::string> failure_message_boxes;
  std::string failure_error;
};

void PrintTo(const Installer& installer, std::ostream* out) {
  *out << installer.name;
}

bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The paths are quoted for the command line: a build directory may hold
// spaces.
const std::vector<Installer> kInstallers = {
    // The second install is a later version, which replaces the first: had
    // it not, the first would keep the program after the uninstall.
    {"Msi",
     kMsiexec,
     "/i \"" SVCENTRY_MSI "\" /qn",
     "/i \"" SVCENTRY_MSI_NEXT "\" /qn",
     "/x \"" SVCENTRY_MSI_NEXT "\" /qn",
     kInstalledProgram,
     std::nullopt,
     {},
     ""},
    {"Nsis",
     SVCENTRY_NSIS_SETUP,
     "",
     "",
     "",
     "",
     2,
     {"The gds_db service could not be registered (svcentry.exe exit code: "
      "1)."},
     ""},
    {"Batch",
     kCmd,
     "/c \"" SVCENTRY_BATCH "\"",
     "/c \"" SVCENTRY_BATCH "\"",
     "",
     "",
     1,
     {},
     "The gds_db service could not be registered.\r\n"},
};

class Installers : public ServicesFileTest,
                   public ::testing::WithParamInterface<Installer> {};

TEST_P(Installers, RegisterTheEntryOnceOrFailAndChangeNothing) {
  const Installer& installer = GetParam();
  if (!installer.uninstall.empty()) {
    // Whatever an earlier run left installed goes: the second install
    // replaces it, and its uninstall removes all.
    RunProgram(installer.program, installer.install_again);
    RunProgram(installer.program, installer.uninstall);
  }
  Establish(File(kEcho));
  const Services registered = File(kEcho + kEntryLine);

  ProgramRun run = RunProgram(installer.program, installer.install);
  EXPECT_EQ(run.exit_code, 0U) << run.standard_output << run.standard_error;
  EXPECT_EQ(run.message_boxes, std::vector<std::string>{});
  EXPECT_EQ(run.standard_error, "");
  EXPECT_EQ(Observe(), registered);
  EXPECT_EQ(RunProgram(SVCENTRY_SERVICE_LOOKUP).standard_output, "3050\r\n");
  EXPECT_TRUE(installer.installed.empty() || Exists(installer.installed));

  run = RunProgram(installer.program, installer.install_again);
  EXPECT_EQ(run.exit_code, 0U) << run.standard_output << run.standard_error;
  EXPECT_EQ(Observe(), registered);

  if (!installer.uninstall.empty()) {
    // Other software may use the entry: uninstalling leaves it.
    EXPECT_EQ(RunProgram(installer.program, installer.uninstall).exit_code, 0U);
    EXPECT_FALSE(Exists(installer.installed));
    EXPECT_EQ(Observe(), registered);
  }

  // The services file is held by a program that lets others only read it.
  Establish(File(kEcho));
  run = RunHolding(Holder::kReadersOnly, installer.program, installer.install);
  EXPECT_NE(run.exit_code, 0U);
  if (installer.failure_exit) {
    EXPECT_EQ(run.exit_code, *installer.failure_exit);
  }
  EXPECT_EQ(run.message_boxes, installer.failure_message_boxes);
  EXPECT_EQ(run.standard_error, installer.failure_error);
  EXPECT_EQ(Observe(), File(kEcho));
  // A failed install is rolled back.
  EXPECT_TRUE(installer.installed.empty() || !Exists(installer.installed));
}

std::string InstallerName(
    const ::testing::TestParamInfo<Installer>& param_info) {
  return param_info.param.name;
}

INSTANTIATE_TEST_SUITE_P(ServicesFile, Installers,
                         ::testing::ValuesIn(kInstallers), InstallerName);

}  // namespace
}  // namespace svcentry
