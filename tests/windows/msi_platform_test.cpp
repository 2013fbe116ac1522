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

#if !defined(SVCENTRY_MSI)
#error "SVCENTRY_MSI must name a package to open"
#endif

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
// messages receives them: formatted from the record.
INT CALLBACK Receive(LPVOID context, UINT type, LPCSTR text) {
  static_cast<std::vector<Message>*>(context)->push_back(
      {static_cast<INSTALLMESSAGE>(type & 0xFF000000U),
       text == nullptr ? "" : text});
  return IDOK;
}

struct Case {
  const char* name;
  std::string output;
  int exit_code;
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
     {INSTALLMESSAGE_INFO,
      "String 'gds_db           3050/tcp' was successfully added to file " +
          kFormatted},
     ERROR_SUCCESS},
    {"Failure",
     "Can't open file " + kFormatted + " for reading. Error \xB9" + "5",
     1,
     {INSTALLMESSAGE_ERROR,
      "Can't open file " + kFormatted + " for reading. Error \xB9" + "5"},
     ERROR_INSTALL_FAILURE},
};

class MsiPlatformReport : public ::testing::TestWithParam<Case> {};

TEST_P(MsiPlatformReport, HandsTheMessageToTheInstallAsItStands) {
  const Case& test_case = GetParam();
  std::vector<Message> received;
  MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
  const INSTALLUI_HANDLERA previous = MsiSetExternalUIA(
      Receive, INSTALLLOGMODE_INFO | INSTALLLOGMODE_ERROR, &received);
  MSIHANDLE package = 0;
  const bool opened = MsiOpenPackageA(SVCENTRY_MSI, &package) == ERROR_SUCCESS;
  ASSERT_TRUE(opened);
  received.clear();

  MsiPlatform platform(package);
  platform.WriteStandardOutput(test_case.output.data(),
                               test_case.output.size());
  EXPECT_EQ(platform.ReportOutcome(test_case.exit_code), test_case.result);
  MsiCloseHandle(package);
  MsiSetExternalUIA(previous, 0, nullptr);

  EXPECT_EQ(received, std::vector<Message>{test_case.message});
}

std::string CaseName(const ::testing::TestParamInfo<Case>& param_info) {
  return param_info.param.name;
}

INSTANTIATE_TEST_SUITE_P(Outcomes, MsiPlatformReport,
                         ::testing::ValuesIn(kCases), CaseName);

}  // namespace
}  // namespace svcentry
