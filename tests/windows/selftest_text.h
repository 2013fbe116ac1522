// The texts of the self-test kit, apart from the system it runs on: the
// Windows Sandbox configuration that runs the kit, and the report's rows,
// which the test program writes and the runner counts. Plain standard C++,
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
/// selftest.cmd /disposable there, elevated, when the sandbox's user logs
/// on.
std::string SandboxConfiguration(const std::string& kit_directory);

// One row of the report: a test case, or a step that failed outside them.
struct TestRow {
  enum class Outcome { kPassed, kFailed, kSkipped };
  std::string name{};  // suite.name
  Outcome outcome = Outcome::kPassed;
  // For a failure, "file:line: " and the first line of each failure's
  // message; for a skip, the first line of its reason.
  std::vector<std::string> notes{};
  // What the case saw where Windows and Wine differ (its "seen" property).
  std::vector<std::string> seen{};
};

/// The report's lines for `row`: "passed  ", "failed  " or "skipped "
/// and its name, then its notes and what it saw, indented.
std::vector<std::string> RowLines(const TestRow& row);

// How many rows passed, failed and were skipped.
struct Tally {
  int passed = 0;
  int failed = 0;
  int skipped = 0;
};

/// Counts the rows among `lines`, as RowLines writes them.
Tally TallyOf(const std::vector<std::string>& lines);

/// The report's last line: "N passed, N failed, N skipped".
std::string TallyLine(const Tally& tally);

}  // namespace svcentry
