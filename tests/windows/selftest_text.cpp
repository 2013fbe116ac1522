#include "tests/windows/selftest_text.h"

#include <string>
#include <vector>

namespace svcentry {

std::string XmlEscaped(const std::string& text) {
  std::string escaped;
  for (const char character : text) {
    switch (character) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      case '\'':
        escaped += "&apos;";
        break;
      default:
        escaped += character;
    }
  }
  return escaped;
}

// Microsoft's page on the configuration ("Windows Sandbox configuration",
// learn.microsoft.com/windows/security/application-security/
// application-isolation/windows-sandbox/
// windows-sandbox-configure-using-wsb-file) says only that the logon
// command runs "under the container user account", which "should be an
// administrator account"; it never says the command runs elevated, and an
// administrator runs unelevated under User Account Control. So the command
// elevates itself: Start-Process -Verb RunAs asks for elevation, and runs
// at once where the process already is. /k keeps the window and its output.
std::string SandboxConfiguration(const std::string& kit_directory) {
  const std::string command =
      "powershell.exe -NoProfile -Command \"Start-Process -Verb RunAs "
      "-FilePath cmd.exe -ArgumentList '/k " +
      std::string(kSandboxKitFolder) + "\\selftest.cmd /disposable'\"";
  // The tests need no network.
  return "<Configuration>\r\n"
         "  <Networking>Disable</Networking>\r\n"
         "  <MappedFolders>\r\n"
         "    <MappedFolder>\r\n"
         "      <HostFolder>" +
         XmlEscaped(kit_directory) +
         "</HostFolder>\r\n"
         "      <SandboxFolder>" +
         XmlEscaped(kSandboxKitFolder) +
         "</SandboxFolder>\r\n"
         "      <ReadOnly>false</ReadOnly>\r\n"
         "    </MappedFolder>\r\n"
         "  </MappedFolders>\r\n"
         "  <LogonCommand>\r\n"
         "    <Command>" +
         XmlEscaped(command) +
         "</Command>\r\n"
         "  </LogonCommand>\r\n"
         "</Configuration>\r\n";
}

namespace {

constexpr char kPassed[] = "passed  ";
constexpr char kFailed[] = "failed  ";
constexpr char kSkipped[] = "skipped ";

}  // namespace

std::vector<std::string> RowLines(const TestRow& row) {
  const char* outcome = row.outcome == TestRow::Outcome::kPassed   ? kPassed
                        : row.outcome == TestRow::Outcome::kFailed ? kFailed
                                                                   : kSkipped;
  std::vector<std::string> lines = {outcome + row.name};
  for (const std::string& note : row.notes) {
    lines.push_back("    " + note);
  }
  for (const std::string& seen : row.seen) {
    lines.push_back("    seen: " + seen);
  }
  return lines;
}

Tally TallyOf(const std::vector<std::string>& lines) {
  Tally tally;
  for (const std::string& line : lines) {
    tally.passed += line.starts_with(kPassed) ? 1 : 0;
    tally.failed += line.starts_with(kFailed) ? 1 : 0;
    tally.skipped += line.starts_with(kSkipped) ? 1 : 0;
  }
  return tally;
}

std::string TallyLine(const Tally& tally) {
  return std::to_string(tally.passed) + " passed, " +
         std::to_string(tally.failed) + " failed, " +
         std::to_string(tally.skipped) + " skipped";
}

}  // namespace svcentry
