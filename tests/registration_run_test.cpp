#include "registration/registration_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/fake_platform.h"

namespace svcentry {
namespace {

constexpr const char* kPath = FakePlatform::kServicesPath;
const std::string kEntry = kServicesEntry;
const std::string kEntryLine = kEntry + "\r\n";

std::string Added(const std::string& path) {
  return "String '" + kEntry + "' was successfully added to file " + path +
         "\n";
}

std::string Exists(const std::string& path) {
  return "String '" + kEntry + "' in file " + path + " already exists\n";
}

const std::string kAdded = Added(kPath);
const std::string kExists = Exists(kPath);

std::string Failure(const std::string& what, int code) {
  return what + " Error \xB9" + std::to_string(code);
}

// Runs the tool and checks what every run must hold: one message, written
// after every file was closed.
int RunChecked(FakePlatform& platform,
               std::size_t block_size = TextStream::kBlockSize) {
  const int exit_code = RunRegistration(platform, block_size);
  EXPECT_EQ(platform.open_at_output, 0U) << "a file was open at the message";
  EXPECT_EQ(platform.OpenHandles(), 0U);
  EXPECT_EQ(std::count(platform.calls.begin(), platform.calls.end(),
                       "WriteStandardOutput"),
            1);
  return exit_code;
}

TEST(RegistrationRun, FindsOrAppendsTheEntry) {
  struct Case {
    const char* name;
    std::string before;
    bool present;
    std::string appended_behind;  // when not present
  };
  const std::string x999(999, 'x');
  const std::vector<Case> cases = {
      {"entry alone", kEntryLine, true, ""},
      {"entry among others", "a 1/tcp\r\n" + kEntryLine + "b 2/tcp\r\n", true,
       ""},
      {"entry with a comment", kEntry + "   # database\r\n", true, ""},
      {"entry with LF only", "a\n" + kEntry + "\n", true, ""},
      {"entry on a last line without line end", "a\r\n" + kEntry, true, ""},
      {"entry as a 999-character piece's start", x999 + kEntry + "\r\n", true,
       ""},
      {"entry inside a piece", x999.substr(1) + kEntry + "\r\n", false, ""},
      {"one space", "gds_db 3050/tcp\r\n", false, ""},
      {"a tab", "gds_db\t3050/tcp\r\n", false, ""},
      {"ten spaces", "gds_db          3050/tcp\r\n", false, ""},
      {"twelve spaces", "gds_db            3050/tcp\r\n", false, ""},
      {"upper case", "GDS_DB           3050/TCP\r\n", false, ""},
      {"indented", " " + kEntryLine, false, ""},
      {"commented out", "#" + kEntryLine, false, ""},
      {"cut short", "gds_db           3050/tc\r\n", false, ""},
      {"behind a Ctrl-Z", "a\r\n\x1a" + kEntryLine, false, ""},
      {"empty file", "", false, ""},
      {"trailing Ctrl-Z", "a\r\n\x1a", false, ""},
      {"no final line end", "a 1/tcp", false, "\r\n"},
      {"no final line end before a Ctrl-Z", "a 1/tcp\x1a", false, "\r\n"},
      {"NUL inside the entry's line",
       std::string("gds_db\0", 7) + "   3050/tcp\r\n", false, ""},
  };
  for (const Case& test : cases) {
    for (const std::size_t block_size :
         {std::size_t{3}, TextStream::kBlockSize}) {
      SCOPED_TRACE(std::string(test.name) + ", block size " +
                   std::to_string(block_size));
      FakePlatform platform;
      platform.files[kPath] = test.before;
      EXPECT_EQ(RunChecked(platform, block_size), 0);
      if (test.present) {
        EXPECT_EQ(platform.standard_output, kExists);
        EXPECT_EQ(platform.files[kPath], test.before);
      } else {
        std::string kept = test.before;
        if (!kept.empty() && kept.back() == '\x1a') {
          kept.pop_back();
        }
        EXPECT_EQ(platform.standard_output, kAdded);
        EXPECT_EQ(platform.files[kPath],
                  kept + test.appended_behind + kEntryLine);
      }
    }
  }
}

TEST(RegistrationRun, SecondRunFindsWhatTheFirstAdded) {
  FakePlatform platform;
  platform.files[kPath] = "a 1/tcp";
  EXPECT_EQ(RunChecked(platform), 0);
  const std::string after_first = platform.files[kPath];
  EXPECT_EQ(after_first, "a 1/tcp\r\n" + kEntryLine);

  FakePlatform again;
  again.files = platform.files;
  EXPECT_EQ(RunChecked(again), 0);
  EXPECT_EQ(again.standard_output, kExists);
  EXPECT_EQ(again.files[kPath], after_first);
}

TEST(RegistrationRun, ReportsEachFailedStep) {
  struct Case {
    const char* name;
    std::string file;
    FakePlatform::Fault fault;
    std::string output;
    std::string after;
    std::uint32_t close_error = 0;
  };
  const std::string path = kPath;
  // The calls of a run that appends: GetSystemDirectoryA (1); CreateFileA,
  // ReadFile, ReadFile, CloseHandle (2-5) to scan; CreateFileA,
  // SetFilePointerEx, ReadFile, SetFilePointerEx (6-9) to open for
  // appending; SetFilePointerEx, WriteFile, FlushFileBuffers, CloseHandle
  // (10-13) to close.
  const std::vector<Case> cases = {
      {"system directory",
       "a\r\n",
       {.call = 1, .error = 87},
       Failure("GetSystemDirectory failed.", 87),
       "a\r\n"},
      {"scan open",
       "a\r\n",
       {.call = 2, .error = kErrorSharingViolation},
       Failure("Can't open file " + path + " for reading.", 32),
       "a\r\n"},
      {"read",
       "a\r\n",
       {.call = 3, .error = 23},
       Failure("Can't read file " + path + ".", 23),
       "a\r\n"},
      {"read, and the close after it",
       "a\r\n",
       {.call = 3, .error = 23},
       Failure("Can't read file " + path + ".", 23),
       "a\r\n",
       1117},
      {"append open",
       "a\r\n",
       {.call = 6, .error = kErrorSharingViolation},
       Failure("Can't open file " + path + " for writing.", 32),
       "a\r\n"},
      {"write",
       "a\r\n",
       {.call = 11, .error = kErrorDiskFull},
       Failure("Can't append file " + path + ".", 112),
       "a\r\n"},
      {"torn write",
       "a\r\n",
       {.call = 11, .error = kErrorDiskFull, .transferred = 9},
       Failure("Can't append file " + path + ".", 112),
       "a\r\n"},
      {"flush",
       "a\r\n",
       {.call = 12, .error = 1117},
       Failure("Can't append file " + path + ".", 1117),
       "a\r\n" + kEntryLine},
      {"close",
       "a\r\n",
       {.call = 13, .error = 6},
       Failure("Can't append file " + path + ".", 6),
       "a\r\n" + kEntryLine},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    FakePlatform platform;
    platform.files[kPath] = test.file;
    platform.fault = test.fault;
    platform.close_error = test.close_error;
    EXPECT_EQ(RunChecked(platform), 1);
    EXPECT_EQ(platform.standard_output, test.output);
    EXPECT_EQ(platform.files[kPath], test.after);
  }
}

TEST(RegistrationRun, FailedUndoKeepsTheWriteErrorCode) {
  // The write (11) fails after a part; the undo keeps the code (12), moves
  // back from the end (13) and is refused the cut (14).
  FakePlatform platform;
  platform.files[kPath] = "a\r\n";
  platform.fault = {.call = 11, .error = kErrorDiskFull, .transferred = 10};
  platform.second_fault = {.call = 14, .error = 1224};
  EXPECT_EQ(RunChecked(platform), 1);
  EXPECT_EQ(platform.calls.at(13), "SetEndOfFile");
  EXPECT_EQ(platform.standard_output,
            Failure("Can't append file " + std::string(kPath) + ".", 112));
}

TEST(RegistrationRun, MissingFileIsReportedNotCreated) {
  FakePlatform platform;
  EXPECT_EQ(RunChecked(platform), 1);
  EXPECT_EQ(
      platform.standard_output,
      Failure("Can't open file " + std::string(kPath) + " for reading.", 2));
  EXPECT_TRUE(platform.files.empty());
}

TEST(RegistrationRun, ReadOnlyFileStillAnswersForAPresentEntry) {
  struct Case {
    const char* name;
    std::string file;
    int exit_code;
  };
  for (const Case& test :
       std::vector<Case>{{"present", kEntryLine, 0}, {"missing", "a\r\n", 1}}) {
    SCOPED_TRACE(test.name);
    FakePlatform platform;
    platform.files[kPath] = test.file;
    platform.read_only.insert(kPath);
    EXPECT_EQ(RunChecked(platform), test.exit_code);
    EXPECT_EQ(
        platform.standard_output,
        test.exit_code == 0
            ? kExists
            : Failure("Can't open file " + std::string(kPath) + " for writing.",
                      5));
    EXPECT_EQ(platform.files[kPath], test.file);
  }
}

TEST(RegistrationRun, PathMustFitThePathBuffer) {
  // 259 characters of path at the most: 238 of directory and 21 of suffix.
  // The longest path's messages are printed whole.
  struct Case {
    std::size_t directory_length;
    bool fits;
    std::string file = kEntryLine;
  };
  for (const Case& test : std::vector<Case>{{238, true},
                                            {238, true, "a\r\n"},
                                            {239, false},
                                            {259, false},
                                            {260, false},
                                            {4000, false}}) {
    SCOPED_TRACE(test.directory_length);
    FakePlatform platform;
    platform.system_directory = std::string(test.directory_length, 'd');
    const std::string path =
        platform.system_directory + "\\Drivers\\etc\\services";
    platform.files[path] = test.file;
    const int exit_code = RunChecked(platform);
    if (test.fits) {
      EXPECT_EQ(exit_code, 0);
      EXPECT_EQ(platform.standard_output,
                test.file == kEntryLine ? Exists(path) : Added(path));
    } else {
      EXPECT_EQ(exit_code, 1);
      EXPECT_EQ(platform.standard_output,
                Failure("GetSystemDirectory failed.", 206));
    }
  }
}

TEST(RegistrationRun, ScanReadsOnAfterAMatch) {
  FakePlatform platform;
  platform.files[kPath] = kEntryLine + "a\r\nb\r\n";
  EXPECT_EQ(RunChecked(platform, 2), 0);
  // Blocks of two, and one more read that finds the end.
  EXPECT_EQ(
      std::count(platform.calls.begin(), platform.calls.end(), "ReadFile"),
      static_cast<std::ptrdiff_t>((platform.files[kPath].size() + 1) / 2 + 1));
}

}  // namespace
}  // namespace svcentry
