// What the self-test runner makes of GoogleTest's XML results decides
// whether a run on a Windows machine passes: a failed or skipped row read
// as passed would hide every fault the Windows tests find there. The
// reading is plain C++, so it is checked here, natively, on the results'
// own shapes.
#include "tests/windows/selftest_text.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace svcentry {
namespace {

// GoogleTest's results around `cases`, as it writes them.
std::string Results(const std::string& cases) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<testsuites tests=\"3\" failures=\"1\" disabled=\"0\" errors=\"0\" "
         "time=\"1.5\" timestamp=\"2024-05-01T10:00:00.000\" "
         "name=\"AllTests\">\n"
         "  <testsuite name=\"Suite\" tests=\"3\" failures=\"1\" "
         "disabled=\"0\" skipped=\"0\" errors=\"0\" time=\"1.5\">\n" +
         cases + "  </testsuite>\n</testsuites>\n";
}

// A test case element's start, `name` in the suite Suite.
std::string Case(const std::string& name, const std::string& result,
                 const std::string& status = "run") {
  return "    <testcase name=\"" + name +
         "\" file=\"tests/windows/installers_test.cpp\" line=\"12\" status=\"" +
         status + "\" result=\"" + result +
         "\" time=\"0.5\" timestamp=\"2024-05-01T10:00:00.000\" "
         "classname=\"Suite\"";
}

// `results` without their last line, which ends the <testsuites> element.
std::string CutShort(const std::string& results) {
  return results.substr(0, results.rfind("</testsuites>"));
}

struct ResultsCase {
  const char* name;
  std::string xml;
  bool whole;
  std::vector<std::string> lines;
};

void PrintTo(const ResultsCase& results_case, std::ostream* out) {
  *out << results_case.name;
}

const std::vector<ResultsCase> kResultsCases = {
    {"Passed",
     Results(Case("Passes", "completed") + " />\n"),
     true,
     {"passed  Suite.Passes", "1 passed, 0 failed"}},
    {"FailedTwice",
     Results(Case("Fails", "completed") +
             ">\n      <failure message=\"tests/windows/installers_test.cpp:"
             "40&#x0A;Expected equality of these values:&#x0A;  run.exit_code"
             "\" type=\"\"><![CDATA[tests/windows/installers_test.cpp:40\n"
             "Expected equality]]></failure>\n"
             "      <failure message=\"tests/windows/installers_test.cpp:41"
             "&#x0A;Value of: Exists(&quot;x&quot;)\" type=\"\">"
             "<![CDATA[...]]></failure>\n    </testcase>\n"),
     true,
     {"failed  Suite.Fails",
      "    tests/windows/installers_test.cpp:40: Expected equality of these "
      "values:",
      "    tests/windows/installers_test.cpp:41: Value of: Exists(\"x\")",
      "0 passed, 1 failed"}},
    // A failure's details may show markup; it is no test case of its own.
    {"MarkupInTheDetails",
     Results(Case("Fails", "completed") +
             ">\n      <failure message=\"a.cpp:1&#x0A;&lt;testcase&gt;\" "
             "type=\"\"><![CDATA[a.cpp:1\n<testcase> in <testcase "
             "name=\"Ghost\" status=\"run\" "
             "result=\"completed\" classname=\"Suite\" />]]]]><![CDATA[>"
             "]]></failure>\n    </testcase>\n"),
     true,
     {"failed  Suite.Fails", "    a.cpp:1: <testcase>", "0 passed, 1 failed"}},
    {"FailedWithoutText",
     Results(Case("Fails", "completed") +
             ">\n      <failure message=\"unknown file\" type=\"\">"
             "</failure>\n    </testcase>\n"),
     true,
     {"failed  Suite.Fails", "    unknown file", "0 passed, 1 failed"}},
    {"Skipped",
     Results(Case("Skips", "skipped") +
             ">\n      <skipped message=\"tests/windows/installers_test.cpp:"
             "300&#x0A;skipped: no makensis (Debian package nsis)&#x0A;\">"
             "<![CDATA[...]]></skipped>\n    </testcase>\n"),
     true,
     {"skipped Suite.Skips", "    skipped: no makensis (Debian package nsis)",
      "1 skipped", "0 passed, 0 failed"}},
    {"SkippedWithoutReason",
     Results(Case("Skips", "skipped") +
             ">\n      <skipped message=\"a.cpp:3&#x0A;\"></skipped>\n"
             "    </testcase>\n"),
     true,
     {"skipped Suite.Skips", "    no reason given", "1 skipped",
      "0 passed, 0 failed"}},
    {"Disabled",
     Results(Case("DISABLED_Later", "suppressed", "notrun") + " />\n"),
     true,
     {"skipped Suite.DISABLED_Later", "    not run (disabled)", "1 skipped",
      "0 passed, 0 failed"}},
    {"SeenWithEscapes",
     Results(Case("Sees", "completed") +
             ">\n      <properties>\n        <property name=\"other\" "
             "value=\"not shown\"/>\n        <property name=\"seen\" "
             "value=\"/fa refused &amp; &lt;kept&gt;, as Wine&apos;s &quot;"
             "msiexec&quot; does&#x9;it\"/>\n        <property name=\"seen "
             "2\" value=\"and then\"/>\n        <property name=\"seenmore\" "
             "value=\"not shown\"/>\n      </properties>\n"
             "    </testcase>\n"),
     true,
     {"passed  Suite.Sees",
      "    seen: /fa refused & <kept>, as Wine's \"msiexec\" does\tit",
      "    seen: and then", "1 passed, 0 failed"}},
    {"Mixed",
     Results(Case("A", "completed") + " />\n" + Case("B", "skipped") +
             ">\n      <skipped message=\"a.cpp:1&#x0A;no 32-bit\"/>\n"
             "    </testcase>\n" +
             Case("C", "completed") +
             ">\n      <failure message=\"a.cpp:2&#x0A;boom\" type=\"\"/>\n"
             "    </testcase>\n" +
             Case("D", "completed") + " />\n"),
     true,
     {"passed  Suite.A", "skipped Suite.B", "    no 32-bit", "failed  Suite.C",
      "    a.cpp:2: boom", "passed  Suite.D", "1 skipped",
      "2 passed, 1 failed"}},
    // Results cut short, as a test program that crashed while writing them
    // leaves them, are no results.
    {"CutShort",
     CutShort(Results(Case("A", "completed") + " />\n")),
     false,
     {}},
    {"CutInATag", "<testsuites>\n" + Case("A", "completed"), false, {}},
    {"NoResults", "", false, {}},
    {"NotGoogleTests", "<html><body>Not found</body></html>", false, {}},
};

class SelftestResults : public ::testing::TestWithParam<ResultsCase> {};

TEST_P(SelftestResults, BecomeTheReportsLines) {
  const ResultsCase& results_case = GetParam();
  std::vector<TestRow> rows;
  ASSERT_EQ(ReadTestResults(results_case.xml, &rows), results_case.whole);
  if (results_case.whole) {
    EXPECT_EQ(RowLines(rows), results_case.lines);
  }
}

INSTANTIATE_TEST_SUITE_P(
    GoogleTestXml, SelftestResults, ::testing::ValuesIn(kResultsCases),
    [](const ::testing::TestParamInfo<ResultsCase>& param_info) {
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
}

}  // namespace
}  // namespace svcentry
