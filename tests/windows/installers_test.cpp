// The program inside the installers it is made for, run as their users run
// them in the Wine prefix: the MSI with msiexec (over the MSI of release
// 1.0.0, as it was released), the NSIS example installer with its window,
// and the batch example with cmd.
#include <windows.h>
// After windows.h, which it needs.
#include <msi.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "tests/windows/child_process.h"
#include "tests/windows/services_file.h"

#if !defined(SVCENTRY_MSI) || !defined(SVCENTRY_MSI_RELEASED) || \
    !defined(SVCENTRY_NSIS_SETUP) || !defined(SVCENTRY_BATCH) || \
    !defined(SVCENTRY_SERVICE_LOOKUP) || !defined(SVCENTRY_PRODUCT)
#error "The installers under test must be named"
#endif

namespace svcentry {
namespace {

const std::string kMsiexec = "C:\\windows\\system32\\msiexec.exe";
const std::string kCmd = "C:\\windows\\system32\\cmd.exe";
// Where the MSI puts its files.
const std::string kInstallDirectory = "C:\\Program Files\\svcentry";

struct Installer {
  const char* name;
  std::string program;
  // Its arguments for a first install, and for a second one over it.
  std::string install;
  std::string install_again;
  // Its arguments that remove what the second install left; "" for none.
  std::string uninstall;
  // The directory it installs into, and the files the second install
  // leaves there, the program first; "" and none for none.
  std::string directory;
  std::vector<std::string> files;
  // The products of this name Windows Installer lists after the second
  // install.
  int products = 0;
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

// The installed products Windows Installer lists under svcentry's name.
int ListedProducts() {
  int listed = 0;
  char code[39] = {};
  for (DWORD index = 0; MsiEnumProductsA(index, code) == ERROR_SUCCESS;
       ++index) {
    char name[256] = {};
    DWORD size = sizeof name;
    if (MsiGetProductInfoA(code, INSTALLPROPERTY_INSTALLEDPRODUCTNAME, name,
                           &size) == ERROR_SUCCESS &&
        std::string(name) == SVCENTRY_PRODUCT) {
      ++listed;
    }
  }
  return listed;
}

// The paths are quoted for the command line: a build directory may hold
// spaces.
const std::vector<Installer> kInstallers = {
    // The second install is this version, which replaces release 1.0.0:
    // had it not, the program would stay after the uninstall.
    {"Msi",
     kMsiexec,
     "/i \"" SVCENTRY_MSI_RELEASED "\" /qn",
     "/i \"" SVCENTRY_MSI "\" /qn",
     "/x \"" SVCENTRY_MSI "\" /qn",
     kInstallDirectory,
     {"svcentry.exe", "LICENSE", "THIRD-PARTY-NOTICES.txt"},
     1,
     std::nullopt,
     {},
     ""},
    {"Nsis",
     SVCENTRY_NSIS_SETUP,
     "",
     "",
     "",
     "",
     {},
     0,
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
     {},
     0,
     1,
     {},
     "The gds_db service could not be registered.\r\n"},
};

class Installers : public ServicesFileTest,
                   public ::testing::WithParamInterface<Installer> {};

TEST_P(Installers, RegisterTheEntryOnceOrFailAndChangeNothing) {
  const Installer& installer = GetParam();
  const auto installed = [&installer](const std::string& file) {
    return installer.directory + "\\" + file;
  };
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
  EXPECT_TRUE(installer.files.empty() ||
              Exists(installed(installer.files.front())));

  run = RunProgram(installer.program, installer.install_again);
  EXPECT_EQ(run.exit_code, 0U) << run.standard_output << run.standard_error;
  EXPECT_EQ(Observe(), registered);
  EXPECT_EQ(ListedProducts(), installer.products);
  for (const std::string& file : installer.files) {
    EXPECT_TRUE(Exists(installed(file))) << file;
  }

  if (!installer.uninstall.empty()) {
    // Other software may use the entry: uninstalling leaves it, and nothing
    // else.
    EXPECT_EQ(RunProgram(installer.program, installer.uninstall).exit_code, 0U);
    EXPECT_FALSE(Exists(installer.directory));
    EXPECT_EQ(ListedProducts(), 0);
    EXPECT_EQ(Observe(), registered);
  }

  // The services file is held by a program that lets others only read it.
  Establish(File(kEcho));
  run = RunHolding(Holder::kReadersOnly, installer.program,
                   installer.install_again);
  EXPECT_NE(run.exit_code, 0U);
  if (installer.failure_exit) {
    EXPECT_EQ(run.exit_code, *installer.failure_exit);
  }
  EXPECT_EQ(run.message_boxes, installer.failure_message_boxes);
  EXPECT_EQ(run.standard_error, installer.failure_error);
  EXPECT_EQ(Observe(), File(kEcho));
  // A failed install is rolled back.
  EXPECT_TRUE(installer.directory.empty() || !Exists(installer.directory));
  EXPECT_EQ(ListedProducts(), 0);
}

std::string InstallerName(
    const ::testing::TestParamInfo<Installer>& param_info) {
  return param_info.param.name;
}

INSTANTIATE_TEST_SUITE_P(ServicesFile, Installers,
                         ::testing::ValuesIn(kInstallers), InstallerName);

}  // namespace
}  // namespace svcentry
