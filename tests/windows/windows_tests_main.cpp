// The entry of svcentry_windows_tests.exe. Under the self-test runner,
// which names a file in SVCENTRY_SELFTEST, it writes there the report's
// rows as GoogleTest itself holds the results: each test case, and a failed
// row for each failure outside them (in a suite's set-up or tear-down, or
// the program's), which its own summary counts in no test.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/windows/selftest_text.h"

namespace svcentry {
namespace {

std::string FirstLine(const std::string& text) {
  return text.substr(0, text.find_first_of("\r\n"));
}

// The row `name` of `result`; its notes, where each failure happened and
// the first line of its message, or the reason of the skip.
TestRow RowOf(const std::string& name, const ::testing::TestResult& result) {
  TestRow row{.name = name};
  if (result.Failed()) {
    row.outcome = TestRow::Outcome::kFailed;
  } else if (result.Skipped()) {
    row.outcome = TestRow::Outcome::kSkipped;
  }
  for (int index = 0; index < result.total_part_count(); ++index) {
    const ::testing::TestPartResult& part = result.GetTestPartResult(index);
    const std::string text = FirstLine(part.message());
    if (part.skipped()) {
      row.notes.push_back(text.empty() ? "no reason given" : text);
    } else if (part.failed()) {
      const std::string file =
          part.file_name() == nullptr ? "unknown file" : part.file_name();
      row.notes.push_back(file + ":" + std::to_string(part.line_number()) +
                          (text.empty() ? "" : ": " + text));
    }
  }
  for (int index = 0; index < result.test_property_count(); ++index) {
    const ::testing::TestProperty& property = result.GetTestProperty(index);
    const std::string key = property.key();
    if (key == "seen" || key.starts_with("seen ")) {
      row.seen.emplace_back(property.value());
    }
  }
  return row;
}

class ReportRows : public ::testing::EmptyTestEventListener {
 public:
  explicit ReportRows(std::string path) : path_(std::move(path)) {}

  void OnTestEnd(const ::testing::TestInfo& test) override {
    Add(RowOf(std::string(test.test_suite_name()) + "." + test.name(),
              *test.result()));
  }
  void OnTestSuiteEnd(const ::testing::TestSuite& suite) override {
    AddFailureOutside(std::string(suite.name()) + " (set-up or tear-down)",
                      suite.ad_hoc_test_result());
  }
  void OnTestProgramEnd(const ::testing::UnitTest& unit) override {
    AddFailureOutside("svcentry_windows_tests.exe (outside the suites)",
                      unit.ad_hoc_test_result());
    std::ofstream out(path_);
    for (const std::string& line : lines_) {
      out << line << '\n';
    }
  }

 private:
  void Add(const TestRow& row) {
    for (std::string& line : RowLines(row)) {
      lines_.push_back(std::move(line));
    }
  }
  void AddFailureOutside(const std::string& name,
                         const ::testing::TestResult& result) {
    if (result.Failed()) {
      Add(RowOf(name, result));
    }
  }

  std::string path_;
  std::vector<std::string> lines_;
};

// Where the self-test runner wants the rows, or "" outside it.
std::string RowsPath() {
  char path[MAX_PATH] = {};
  const DWORD length =
      GetEnvironmentVariableA("SVCENTRY_SELFTEST", path, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::string(path, length) : "";
}

}  // namespace
}  // namespace svcentry

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  const std::string rows = svcentry::RowsPath();
  if (!rows.empty()) {
    // GoogleTest owns the listeners it is given.
    ::testing::UnitTest::GetInstance()->listeners().Append(
        new svcentry::ReportRows(rows));
  }
  return RUN_ALL_TESTS();
}
