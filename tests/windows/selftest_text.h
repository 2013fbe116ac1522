// The texts the self-test runner writes and reads, apart from the system it
// runs on: the Windows Sandbox configuration that runs the kit, and the rows
// of GoogleTest's XML results as the report lists them. Plain standard C++,
// so that the native build tests them too.
#pragma once

#include <string>
#include <vector>

namespace svcentry {

/// Where the sandbox shows the kit's folder.
inline constexpr char kSandboxKitFolder[] =
    "C:\\Users\\WDAGUtilityAccount\\Desktop\\svcentry-selftest";

/// `text` with the five characters XML reserves written as entities.
std::string XmlEscaped(const std::string& text);

/// A Windows Sandbox configuration (.wsb) that maps `kit_directory`, an
/// absolute host path, read-write into the sandbox and runs the kit's
/// selftest.cmd /y there, elevated, when the sandbox's user logs on.
std::string SandboxConfiguration(const std::string& kit_directory);

// One test case of GoogleTest's results.
struct TestRow {
  enum class Outcome { kPassed, kFailed, kSkipped };
  std::string name;  // classname.name
  Outcome outcome = Outcome::kPassed;
  // For a failure, "file:line: " and the first line of each failure's
  // message; for a skip, the first line of its reason.
  std::vector<std::string> notes;
  // What the case saw where Windows and Wine differ (its "seen" property).
  std::vector<std::string> seen;

  bool operator==(const TestRow&) const = default;
};

/// The rows of `xml`, GoogleTest's XML results. False when it is not a
/// whole report: no <testsuites> element that ends, or a tag cut short.
bool ReadTestResults(const std::string& xml, std::vector<TestRow>* rows);

/// The report's lines for `rows`: each row as passed, failed or skipped
/// with its notes and what it saw indented below it, then the number
/// skipped when any was, and last "N passed, N failed".
std::vector<std::string> RowLines(const std::vector<TestRow>& rows);

}  // namespace svcentry
