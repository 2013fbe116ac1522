// The custom action's platform hands the run's message to Windows Installer
// as the install must log and show it: the text as it stands, without its
// line end, of the kind the exit code calls for.
#include <windows.h>
// After windows.h, which they need.
#include <msi.h>
#include <msiquery.h>

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "platform/msi_platform.h"
#include "tests/windows/test_files.h"

namespace svcentry {
namespace {

struct Message {
  INSTALLMESSAGE kind;
  std::string text;

  bool operator==(const Message&) const = default;
};

void PrintTo(const Message& message, std::ostream* out) {
  *out << "kind 0x" << std::hex << message.kind << std::dec << " "
       << ::testing::PrintToString(message.text);
}

// Windows Installer's user interface, as an install that logs or shows
// messages receives them: formatted from the record. It answers as its user
// did.
struct UserInterface {
  int answer;
  std::vector<Message> received;
};

INT CALLBACK Receive(LPVOID context, UINT type, LPCSTR text) {
  auto& user_interface = *static_cast<UserInterface*>(context);
  user_interface.received.push_back(
      {static_cast<INSTALLMESSAGE>(type & 0xFF000000U),
       text == nullptr ? "" : text});
  return user_interface.answer;
}

struct Case {
  const char* name;
  std::string output;
  int exit_code;
  // What the user interface answers: OK, or Cancel when its user cancelled
  // the install meanwhile.
  int answer;
  Message message;
  UINT result;
};

void PrintTo(const Case& test_case, std::ostream* out) {
  *out << test_case.name;
}

// Windows Installer expands properties, record fields and groups in the
// text it is given; a path may hold any of them.
const std::string kFormatted =
    "C:\\[ProductName]\\[1]\\{[ProductName]}\\{x}\\[\\[]\\[~]\\]\\services";
const std::vector<Case> kCases = {
    {"Success",
     "String 'gds_db           3050/tcp' was successfully added to file " +
         kFormatted + "\n",
     0,
     IDOK,
     {INSTALLMESSAGE_INFO,
      "String 'gds_db           3050/tcp' was successfully added to file " +
          kFormatted},
     ERROR_SUCCESS},
    {"Failure",
     "Can't open file " + kFormatted + " for reading. Error \xB9" + "5",
     1,
     IDOK,
     {INSTALLMESSAGE_ERROR,
      "Can't open file " + kFormatted + " for reading. Error \xB9" + "5"},
     ERROR_INSTALL_FAILURE},
    {"CancelledMeanwhile",
     "String 'gds_db           3050/tcp' in file C:\\services already "
     "exists\n",
     0,
     IDCANCEL,
     {INSTALLMESSAGE_INFO,
      "String 'gds_db           3050/tcp' in file C:\\services already "
      "exists"},
     ERROR_INSTALL_USEREXIT},
};

class MsiPlatformReport : public ::testing::TestWithParam<Case> {};

TEST_P(MsiPlatformReport, HandsTheMessageToTheInstallAsItStands) {
  const Case& test_case = GetParam();
  UserInterface user_interface{test_case.answer, {}};
  const INSTALLUILEVEL level = MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
  const INSTALLUI_HANDLERA previous = MsiSetExternalUIA(
      Receive, INSTALLLOGMODE_INFO | INSTALLLOGMODE_ERROR, &user_interface);
  MSIHANDLE package = 0;
  const bool opened = MsiOpenPackageA(kMsi.c_str(), &package) == ERROR_SUCCESS;
  UINT result = 0;
  std::vector<Message> received;
  if (opened) {
    user_interface.received.clear();
    MsiPlatform platform(package);
    platform.WriteStandardOutput(test_case.output.data(),
                                 test_case.output.size());
    result = platform.ReportOutcome(test_case.exit_code);
    received = user_interface.received;
    MsiCloseHandle(package);
  }
  // The handler is the process's: it must not outlive this test's context.
  MsiSetExternalUIA(previous, 0, nullptr);
  MsiSetInternalUI(level, nullptr);

  ASSERT_TRUE(opened);
  EXPECT_EQ(result, test_case.result);
  EXPECT_EQ(received, std::vector<Message>{test_case.message});
}

std::string CaseName(const ::testing::TestParamInfo<Case>& param_info) {
  return param_info.param.name;
}

INSTANTIATE_TEST_SUITE_P(Outcomes, MsiPlatformReport,
                         ::testing::ValuesIn(kCases), CaseName);

}  // namespace
}  // namespace svcentry
