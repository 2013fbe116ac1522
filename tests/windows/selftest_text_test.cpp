// The report's rows decide whether a run on a Windows machine passes: a
// failed or skipped row counted as passed would hide every fault the
// Windows tests find there. The rows are plain C++, so they are checked
// here, natively.
#include "tests/windows/selftest_text.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace svcentry {
namespace {

using Outcome = TestRow::Outcome;

struct RowsCase {
  const char* name;
  std::vector<TestRow> rows;
  std::vector<std::string> lines;  // the rows' lines, then the tally's
};

void PrintTo(const RowsCase& rows_case, std::ostream* out) {
  *out << rows_case.name;
}

const std::vector<RowsCase> kRowsCases = {
    {"Passed",
     {{"Suite.Passes"}},
     {"passed  Suite.Passes", "1 passed, 0 failed, 0 skipped"}},
    {"FailedTwice",
     {{"Suite.Fails",
       Outcome::kFailed,
       {"tests/windows/installers_test.cpp:40: Expected equality of these "
        "values:",
        "tests/windows/installers_test.cpp:41: Value of: Exists(\"x\")"}}},
     {"failed  Suite.Fails",
      "    tests/windows/installers_test.cpp:40: Expected equality of these "
      "values:",
      "    tests/windows/installers_test.cpp:41: Value of: Exists(\"x\")",
      "0 passed, 1 failed, 0 skipped"}},
    {"Skipped",
     {{"Suite.Skips",
       Outcome::kSkipped,
       {"skipped: no makensis (Debian package nsis)"}}},
     {"skipped Suite.Skips", "    skipped: no makensis (Debian package nsis)",
      "0 passed, 0 failed, 1 skipped"}},
    // A note or a seen line that reads like a row is no row of its own.
    {"SeenLikeARow",
     {{"Suite.Sees", Outcome::kPassed, {"failed  Ghost"}, {"passed  Ghost"}}},
     {"passed  Suite.Sees", "    failed  Ghost", "    seen: passed  Ghost",
      "1 passed, 0 failed, 0 skipped"}},
    {"Mixed",
     {{"Suite.A"},
      {"Suite.B", Outcome::kSkipped, {"no 32-bit"}},
      {"Suite.C", Outcome::kFailed, {"a.cpp:2: boom"}},
      {"Suite.D", Outcome::kPassed, {}, {"/fa refused, as Wine's msiexec"}}},
     {"passed  Suite.A", "skipped Suite.B", "    no 32-bit", "failed  Suite.C",
      "    a.cpp:2: boom", "passed  Suite.D",
      "    seen: /fa refused, as Wine's msiexec",
      "2 passed, 1 failed, 1 skipped"}},
    {"None", {}, {"0 passed, 0 failed, 0 skipped"}},
};

class ReportRows : public ::testing::TestWithParam<RowsCase> {};

TEST_P(ReportRows, AreCountedByTheirOutcome) {
  std::vector<std::string> lines;
  for (const TestRow& row : GetParam().rows) {
    for (const std::string& line : RowLines(row)) {
      lines.push_back(line);
    }
  }
  lines.push_back(TallyLine(TallyOf(lines)));
  EXPECT_EQ(lines, GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(
    Report, ReportRows, ::testing::ValuesIn(kRowsCases),
    [](const ::testing::TestParamInfo<RowsCase>& param_info) {
      return std::string(param_info.param.name);
    });

// Windows Sandbox refuses a configuration that is not well-formed XML, and
// a folder's name may hold '&' and '\''.
TEST(SandboxConfiguration, MapsTheKitReadWriteUnderItsEscapedPath) {
  const std::string configuration =
      SandboxConfiguration("C:\\Users\\O'Brien\\R&D kit");
  EXPECT_NE(configuration.find("<HostFolder>C:\\Users\\O&apos;Brien\\R&amp;D "
                               "kit</HostFolder>"),
            std::string::npos)
      << configuration;
  EXPECT_NE(configuration.find("<ReadOnly>false</ReadOnly>"),
            std::string::npos);
  EXPECT_EQ(configuration.find("R&D"), std::string::npos);
  // It runs where it may change everything.
  EXPECT_NE(configuration.find("selftest.cmd /disposable"), std::string::npos);
}

}  // namespace
}  // namespace svcentry
