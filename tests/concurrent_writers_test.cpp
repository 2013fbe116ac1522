// Several copies of the tool at once on a file without the entry, while
// another program keeps appending lines of its own. No lock is held between
// the scan and the append, so more than one copy may append the entry; what
// must hold is that every line lands whole and nothing is lost.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "tests/e2e_support.h"

namespace svcentry::e2e {
namespace {

constexpr int kCopies = 8;
constexpr std::size_t kForeignLineSize = 16;

// "writer NNNNNNN\r\n": the other program's line number `number`.
void FormatForeignLine(std::uint32_t number,
                       char (&line)[kForeignLineSize + 1]) {
  (void)std::snprintf(line, sizeof line, "writer %07u\r\n", number);
}

// The other program: appends numbered lines, each with one write on a file
// opened for appending, until `stop` reaches its end. It reports on `report`
// once its first line is in the file, and at the end how many it wrote.
[[noreturn]] void AppendForeignLines(int stop, int report) {
  const int file = open(kServices.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  std::uint32_t written = 0;
  char byte = 0;
  // No pause between lines: the more land while the copies run, the likelier
  // an append that is not one unit shows up cut.
  while (file >= 0) {
    char line[kForeignLineSize + 1];
    FormatForeignLine(written, line);
    if (write(file, line, kForeignLineSize) !=
        static_cast<ssize_t>(kForeignLineSize)) {
      _exit(1);
    }
    if (++written == 1 && write(report, &byte, 1) != 1) {
      _exit(1);
    }
    if (read(stop, &byte, 1) == 0) {
      break;
    }
  }
  const bool reported = write(report, &written, sizeof written) ==
                        static_cast<ssize_t>(sizeof written);
  _exit(file >= 0 && reported ? 0 : 1);
}

struct Writer {
  pid_t pid = -1;
  int stop = -1;
  int report = -1;
};

Writer StartWriter() {
  int stop[2] = {-1, -1};
  int report[2] = {-1, -1};
  if (pipe2(stop, O_CLOEXEC | O_NONBLOCK) != 0 ||
      pipe2(report, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "no pipes for the writer";
    return {};
  }
  const pid_t pid = fork();
  if (pid == 0) {
    close(stop[1]);
    close(report[0]);
    AppendForeignLines(stop[0], report[1]);
  }
  close(stop[0]);
  close(report[1]);
  if (pid < 0) {
    ADD_FAILURE() << "the writer did not start";
    close(stop[1]);
    close(report[0]);
    return {};
  }
  // The copies start only once the writer is at work.
  char started = 0;
  EXPECT_EQ(read(report[0], &started, 1), 1) << "the writer failed at once";
  return {pid, stop[1], report[0]};
}

// Stops the writer; returns how many lines it wrote.
std::uint32_t StopWriter(const Writer& writer) {
  if (writer.pid < 0) {
    return 0;
  }
  close(writer.stop);
  std::uint32_t written = 0;
  const bool reported =
      read(writer.report, &written, sizeof written) == sizeof written;
  close(writer.report);
  int status = 0;
  waitpid(writer.pid, &status, 0);
  EXPECT_TRUE(reported && WIFEXITED(status) && WEXITSTATUS(status) == 0)
      << "the writer failed";
  return written;
}

// Starts the copies together; returns how many reported adding the entry.
int RunCopiesAtOnce() {
  int gate[2] = {-1, -1};
  if (pipe2(gate, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "no pipe for the start gate";
    return 0;
  }
  std::vector<Child> copies;
  copies.reserve(kCopies);
  for (int i = 0; i < kCopies; ++i) {
    copies.push_back(StartProgram({.start_gate = gate[0]}));
  }
  const std::string release(kCopies, 'x');
  EXPECT_EQ(write(gate[1], release.data(), release.size()),
            static_cast<ssize_t>(release.size()));
  close(gate[0]);
  close(gate[1]);
  int added = 0;
  for (const Child& copy : copies) {
    const Outcome outcome = FinishProgram(copy);
    EXPECT_EQ(outcome.exit_code, 0);
    EXPECT_EQ(outcome.standard_error, "");
    if (outcome.standard_output == kAddedMessage) {
      ++added;
    } else {
      EXPECT_EQ(outcome.standard_output, kExistsMessage);
    }
  }
  return added;
}

struct Entries {
  int appended = 0;
  // Appended after a line end of their own: the copy found the file ending
  // inside a foreign line. Linux moves a file's end page by page, so a reader
  // can see an append that crosses a page boundary half done; the copy then
  // adds a line end, as it must when a line is really left open.
  int after_line_end = 0;
};

// Past the old bytes, each line must be the entry (after a line end of its
// own at most) or the other program's next line: a line cut, joined or lost
// shows as a mismatch.
void CountEntries(const std::string& original, std::uint32_t foreign_lines,
                  Entries* entries) {
  const std::string entry_after_line_end = "\r\n" + kEntryLine;
  const std::string text = ReadFile(kServices);
  ASSERT_TRUE(text.starts_with(original));
  ASSERT_TRUE(text.ends_with("\r\n"));
  std::string_view rest = std::string_view(text).substr(original.size());
  std::uint32_t next_foreign = 0;
  while (!rest.empty()) {
    if (rest.starts_with(entry_after_line_end)) {
      ++entries->after_line_end;
      rest.remove_prefix(2);
    }
    const std::string_view line = rest.substr(0, rest.find("\r\n") + 2);
    rest.remove_prefix(line.size());
    if (line == kEntryLine) {
      ++entries->appended;
      continue;
    }
    char expected[kForeignLineSize + 1];
    FormatForeignLine(next_foreign++, expected);
    ASSERT_EQ(line, expected) << "at byte " << text.size() - rest.size();
  }
  EXPECT_EQ(next_foreign, foreign_lines);
}

// Five rounds, or as many as SVCENTRY_CONCURRENT_ROUNDS asks for, to measure
// how often the copies add the entry more than once.
int Rounds() {
  const char* asked = std::getenv("SVCENTRY_CONCURRENT_ROUNDS");
  const long rounds = asked == nullptr ? 0 : std::strtol(asked, nullptr, 10);
  return rounds > 0 && rounds < 1000000 ? static_cast<int>(rounds) : 5;
}

using ConcurrentWriters = SandboxTest;

// Whether the copies race at all depends on scheduling, so the race is run
// several times; each round starts from a file without the entry.
TEST_F(ConcurrentWriters, KeepEveryLineWholeAndLeaveTheEntry) {
  const int rounds = Rounds();
  const std::string original = "# services\r\necho 7/tcp\r\n";
  std::string appended;
  std::map<int, int> rounds_by_entries;
  int entries_in_all = 0;
  int after_line_end = 0;
  for (int round = 0; round < rounds; ++round) {
    WriteFile(kServices, original);
    const Writer writer = StartWriter();
    const int added = RunCopiesAtOnce();
    const std::uint32_t foreign_lines = StopWriter(writer);
    Entries entries;
    ASSERT_NO_FATAL_FAILURE(CountEntries(original, foreign_lines, &entries))
        << "round " << round;
    EXPECT_GE(entries.appended, 1);
    EXPECT_EQ(entries.appended, added);
    appended += (round == 0 ? "" : " ") + std::to_string(entries.appended);
    ++rounds_by_entries[entries.appended];
    entries_in_all += entries.appended;
    after_line_end += entries.after_line_end;
  }
  RecordProperty("entries_appended", appended);
  RecordProperty("entries_after_line_end", after_line_end);
  std::cout << "entries appended by " << kCopies << " copies in " << rounds
            << " rounds:";
  for (const auto& [entries, count] : rounds_by_entries) {
    std::cout << " " << entries << " in " << count << ",";
  }
  std::cout << " mean " << static_cast<double>(entries_in_all) / rounds
            << "; after a line end of their own: " << after_line_end << "\n";
}

}  // namespace
}  // namespace svcentry::e2e
