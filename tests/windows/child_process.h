// Runs a Windows program and keeps what it wrote, byte for byte.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace svcentry {

struct ProgramRun {
  // No program exits with this; it stays when none could be run.
  std::uint32_t exit_code = 0xFFFFFFFF;
  std::string standard_output;
  std::string standard_error;
  /// The texts of the message boxes it showed.
  std::vector<std::string> message_boxes;
};

/// Runs `program` (a Windows path) with `arguments` after its name on the
/// command line and waits for it to end. Its standard streams go to files,
/// so its output arrives exactly as it wrote it. Meanwhile it plays a user
/// who answers each window the program shows with OK, or Cancel where OK is
/// disabled. A program that cannot be started, or does not end
/// within a minute, fails the current test.
ProgramRun RunProgram(const std::string& program,
                      const std::string& arguments = "");

/// The run in a line: its exit code, and what it wrote and showed.
std::string Described(const ProgramRun& run);

/// Says what the current test saw, in its output (a line "[   SEEN   ]
/// ...") and in its XML results, as the properties "seen", "seen 2", ...:
/// the self-test kit's report lists them with the test. Where Wine and
/// Windows differ, it says which of the two the test saw.
void SaySeen(const std::string& what);

}  // namespace svcentry
