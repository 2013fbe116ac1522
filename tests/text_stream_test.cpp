#include "registration/text_stream.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "tests/fake_platform.h"

namespace svcentry {
namespace {

using namespace std::string_literals;

constexpr const char* kPath = FakePlatform::kServicesPath;
constexpr std::size_t kLineCapacity = 1000;
// Tiny blocks put every pair of bytes across a block boundary somewhere.
constexpr std::array<std::size_t, 6> kBlockSizes = {
    1, 2, 3, 7, 4096, TextStream::kBlockSize};
// Fills the line buffer before each read, so that a chunk holding NUL bytes
// can still be measured: it ends at the last NUL before the filler.
constexpr char kFiller = '\xff';

struct Chunks {
  std::vector<std::string> chunks;
  bool at_end = false;
  bool has_error = false;
};

std::string TakeChunk(const std::array<char, kLineCapacity>& line) {
  const std::string_view bytes(line.data(), line.size());
  return std::string(
      bytes.substr(0, bytes.substr(0, bytes.find(kFiller)).find_last_of('\0')));
}

Chunks ReadAll(FakePlatform& platform, std::size_t block_size,
               std::size_t capacity = kLineCapacity) {
  TextStream stream(platform, block_size);
  EXPECT_TRUE(stream.OpenForScanning(kPath));
  Chunks result;
  std::array<char, kLineCapacity> line{};
  while (!stream.AtEnd() && !stream.HasError()) {
    line.fill(kFiller);
    if (stream.ReadChunk(line.data(), capacity)) {
      result.chunks.push_back(TakeChunk(line));
    }
  }
  result.at_end = stream.AtEnd();
  result.has_error = stream.HasError();
  EXPECT_TRUE(stream.Close());
  return result;
}

struct ReadCase {
  const char* name;
  std::string file;
  std::vector<std::string> chunks;
  // Read with every block size up to the file's length as well, so that a
  // block boundary falls in front of each of its bytes.
  bool every_boundary = false;
};

std::vector<std::size_t> BlockSizesFor(const ReadCase& test) {
  std::vector<std::size_t> sizes(kBlockSizes.begin(), kBlockSizes.end());
  for (std::size_t size = 1; test.every_boundary && size <= test.file.size();
       ++size) {
    sizes.push_back(size);
  }
  return sizes;
}

TEST(TextStreamRead, TranslatesEveryBlockSize) {
  const std::string long_line(2500, 'x');
  const std::vector<ReadCase> cases = {
      {"empty file", "", {}},
      {"CR LF", "a\r\nbc\r\n", {"a\n", "bc\n"}},
      {"LF only", "a\nbc\n", {"a\n", "bc\n"}},
      {"lone CR stays", "a\rb\r\n", {"a\rb\n"}},
      {"CR CR LF", "a\r\r\n", {"a\r\n"}},
      {"CR as last byte", "a\r\nb\r", {"a\n", "b\r"}},
      {"only a CR", "\r", {"\r"}},
      {"LF CR", "\n\r\n", {"\n", "\n"}},
      {"no final line end", "a\r\nlast", {"a\n", "last"}},
      {"Ctrl-Z in the middle",
       "a\r\nb\x1a"
       "c\r\nd\r\n",
       {"a\n", "b"}},
      {"Ctrl-Z last", "a\r\n\x1a", {"a\n"}},
      {"Ctrl-Z first",
       "\x1a"
       "a\r\n",
       {}},
      {"CR before Ctrl-Z", "a\r\x1a\n", {"a\r"}},
      {"NUL bytes pass", "a\0b\r\n\0\r\n"s, {"a\0b\n"s, "\0\n"s}},
      {"line over 999",
       long_line + "\r\nz\r\n",
       {std::string(999, 'x'), std::string(999, 'x'),
        std::string(502, 'x') + "\n", "z\n"}},
      {"999 then LF",
       "\n" + std::string(999, 'y') + "\n",
       {"\n", std::string(999, 'y'), "\n"},
       true},
      {"999 then CR LF",
       "\n" + std::string(999, 'y') + "\r\n",
       {"\n", std::string(999, 'y'), "\n"},
       true},
      {"998 then CR LF",
       std::string(998, 'y') + "\r\n",
       {std::string(998, 'y') + "\n"}},
      {"CR at the capacity",
       std::string(998, 'y') + "\r\r\n",
       {std::string(998, 'y') + "\r", "\n"}},
  };
  for (const ReadCase& test : cases) {
    for (const std::size_t block_size : BlockSizesFor(test)) {
      SCOPED_TRACE(std::string(test.name) + ", block size " +
                   std::to_string(block_size));
      FakePlatform platform;
      platform.files[kPath] = test.file;
      const Chunks read = ReadAll(platform, block_size);
      EXPECT_EQ(read.chunks, test.chunks);
      EXPECT_TRUE(read.at_end);
      EXPECT_FALSE(read.has_error);
      EXPECT_EQ(platform.OpenHandles(), 0U);
    }
  }
}

TEST(TextStreamRead, EndIsSetOnlyByAReadThatFindsNothing) {
  FakePlatform platform;
  platform.files[kPath] = "a\r\n";
  TextStream stream(platform);
  ASSERT_TRUE(stream.OpenForScanning(kPath));
  std::array<char, 8> line{};
  ASSERT_TRUE(stream.ReadChunk(line.data(), line.size()));
  EXPECT_STREQ(line.data(), "a\n");
  EXPECT_FALSE(stream.AtEnd());

  line.fill('#');
  EXPECT_FALSE(stream.ReadChunk(line.data(), line.size()));
  EXPECT_TRUE(stream.AtEnd());
  EXPECT_EQ(line[0], '#') << "a read that delivers nothing leaves the buffer";
  EXPECT_TRUE(stream.Close());
}

TEST(TextStreamRead, RefusedReadSetsTheErrorNotTheEnd) {
  // Blocks of two: the second ReadFile (call 3) is refused mid-line.
  FakePlatform platform;
  platform.files[kPath] = "abcd\r\n";
  platform.fault = {.call = 3, .error = 23};
  TextStream stream(platform, 2);
  ASSERT_TRUE(stream.OpenForScanning(kPath));
  std::array<char, 16> line{};
  ASSERT_TRUE(stream.ReadChunk(line.data(), line.size()));
  EXPECT_STREQ(line.data(), "ab");
  EXPECT_TRUE(stream.HasError());
  EXPECT_FALSE(stream.AtEnd());
  EXPECT_EQ(platform.GetLastError(), 23U);
  stream.Close();
}

TEST(TextStreamRead, MissingFileIsNotCreated) {
  FakePlatform platform;
  TextStream stream(platform);
  EXPECT_FALSE(stream.OpenForScanning(kPath));
  EXPECT_EQ(platform.GetLastError(), kErrorFileNotFound);
  EXPECT_TRUE(platform.files.empty());
}

struct AppendCase {
  const char* name;
  std::string before;
  bool last_line_is_open;
  std::string after;  // with "x\n" written
};

TEST(TextStreamAppend, DropsOneTrailingCtrlZAndStoresCrLf) {
  const std::vector<AppendCase> cases = {
      {"empty file", "", false, "x\r\n"},
      {"ends in CR LF", "a\r\n", false, "a\r\nx\r\n"},
      {"ends in LF", "a\n", false, "a\nx\r\n"},
      {"no final line end", "a", true, "ax\r\n"},
      {"ends in CR", "a\r", true, "a\rx\r\n"},
      {"trailing Ctrl-Z", "a\r\n\x1a", false, "a\r\nx\r\n"},
      {"Ctrl-Z after an open line", "a\x1a", true, "ax\r\n"},
      {"only a Ctrl-Z", "\x1a", false, "x\r\n"},
      {"two Ctrl-Z, one goes", "a\n\x1a\x1a", true, "a\n\x1ax\r\n"},
      {"Ctrl-Z in the middle stays", "a\x1a\n", false, "a\x1a\nx\r\n"},
  };
  for (const AppendCase& test : cases) {
    for (const std::size_t block_size : kBlockSizes) {
      SCOPED_TRACE(std::string(test.name) + ", block size " +
                   std::to_string(block_size));
      FakePlatform platform;
      platform.files[kPath] = test.before;
      TextStream stream(platform, block_size);
      ASSERT_TRUE(stream.OpenForAppending(kPath));
      EXPECT_EQ(stream.LastLineIsOpen(), test.last_line_is_open);
      EXPECT_TRUE(stream.WriteText("x\n"));
      EXPECT_TRUE(stream.Close());
      EXPECT_EQ(platform.files[kPath], test.after);
      EXPECT_EQ(platform.OpenHandles(), 0U);
    }
  }
}

TEST(TextStreamAppend, WritesEachLfAsCrLfAndNothingElse) {
  FakePlatform platform;
  TextStream stream(platform, 3);
  ASSERT_TRUE(stream.OpenForAppending(kPath));
  EXPECT_TRUE(stream.WriteText("\n\nab\x1a\r\nc"));
  EXPECT_TRUE(stream.Close());
  EXPECT_EQ(platform.files[kPath], "\r\n\r\nab\x1a\r\r\nc");
}

TEST(TextStreamAppend, AnotherProgramsLinesAreKept) {
  struct Case {
    const char* name;
    std::string before;
    std::size_t foreign_append_call;
    std::string after;
  };
  // The open's calls: CreateFileA (1), SetFilePointerEx to the last byte (2),
  // ReadFile (3), for a Ctrl-Z the move back to it before the cut (4); the
  // transfer's move to the end comes after the open.
  const std::vector<Case> cases = {
      {"appended before the transfer", "a\r\n", 5, "a\r\nb\r\nx\r\n"},
      {"appended behind a trailing Ctrl-Z", "a\r\n\x1a", 4,
       "a\r\n\x1a"
       "b\r\nx\r\n"},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    FakePlatform platform;
    platform.files[kPath] = test.before;
    platform.foreign_append_call = test.foreign_append_call;
    platform.foreign_append = "b\r\n";
    TextStream stream(platform);
    ASSERT_TRUE(stream.OpenForAppending(kPath));
    EXPECT_FALSE(stream.LastLineIsOpen());
    EXPECT_TRUE(stream.WriteText("x\n"));
    EXPECT_TRUE(stream.Close());
    EXPECT_EQ(platform.files[kPath], test.after);
  }
}

TEST(TextStreamAppend, OpenFailuresCloseTheFile) {
  // The calls of an append open: CreateFileA, SetFilePointerEx to the last
  // byte, ReadFile, then for a Ctrl-Z SetFilePointerEx and SetEndOfFile, and
  // last SetFilePointerEx back to the start.
  struct Case {
    const char* name;
    std::string file;
    std::size_t call;
    // The read succeeds with nothing: the file was shortened meanwhile.
    bool reads_nothing = false;
  };
  const std::vector<Case> cases = {
      {"create refused", "a\r\n", 1},
      {"positioning at the last byte refused", "a\r\n", 2},
      {"last byte unreadable", "a\x1a", 3},
      {"last byte gone", "a\r\n", 3, true},
      {"positioning at the start refused", "a\r\n", 4},
      {"shortening refused", "a\x1a", 5},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    FakePlatform platform;
    platform.files[kPath] = test.file;
    platform.fault = {.call = test.call,
                      .error = test.reads_nothing ? 0U : kErrorAccessDenied,
                      .short_success = test.reads_nothing};
    {
      TextStream stream(platform);
      EXPECT_FALSE(stream.OpenForAppending(kPath));
    }
    // Checked after the stream's end, where closing the handle again would
    // replace the code.
    EXPECT_EQ(platform.GetLastError(),
              test.reads_nothing ? kErrorHandleEof : kErrorAccessDenied);
    EXPECT_EQ(platform.OpenHandles(), 0U);
    EXPECT_EQ(platform.files[kPath], test.file);
  }
}

TEST(TextStreamAppend, FailedTransferLeavesNoTornText) {
  struct Case {
    const char* name;
    FakePlatform::Fault fault;
    // The code the failure leaves, when the stream fails.
    std::uint32_t error;
    bool foreign_append;
    bool closes;
    std::string after;
    std::size_t block_size = TextStream::kBlockSize;
    bool writes = true;
  };
  // The transfer's calls after the four of the open: SetFilePointerEx to the
  // end (5), WriteFile (6), then a second WriteFile (7) or the undo: it keeps
  // the code (7) and moves back from the end (8). In blocks of four the
  // second transfer moves (7) and writes (8).
  const std::vector<Case> cases = {
      {"refused at once",
       {.call = 6, .error = kErrorDiskFull},
       kErrorDiskFull,
       false,
       false,
       "a\r\n"},
      {"refused after part",
       {.call = 6, .error = kErrorDiskFull, .transferred = 4},
       kErrorDiskFull,
       false,
       false,
       "a\r\n"},
      {"nothing written, reported as success",
       {.call = 6, .error = 0, .transferred = 0, .short_success = true},
       kErrorWroteNothing,
       false,
       false,
       "a\r\n"},
      {"short write is continued",
       {.call = 6, .error = 0, .transferred = 4, .short_success = true},
       0,
       false,
       true,
       "a\r\nlong line\r\n"},
      {"another program appended behind the part",
       {.call = 6, .error = kErrorDiskFull, .transferred = 4},
       kErrorDiskFull,
       true,
       false,
       "a\r\nlongforeign\r\n"},
      {"refused in the second of three blocks",
       {.call = 8, .error = kErrorDiskFull, .transferred = 2},
       kErrorDiskFull,
       false,
       false,
       "a\r\nlong",
       4,
       false},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    FakePlatform platform;
    platform.files[kPath] = "a\r\n";
    platform.fault = test.fault;
    if (test.foreign_append) {
      platform.foreign_append_call = 8;
      platform.foreign_append = "foreign\r\n";
    }
    {
      TextStream stream(platform, test.block_size);
      ASSERT_TRUE(stream.OpenForAppending(kPath));
      EXPECT_EQ(stream.WriteText("long line\n"), test.writes);
      EXPECT_EQ(stream.Close(), test.closes);
    }
    // Checked after the stream's end, where closing the handle again would
    // replace the code.
    if (!test.closes) {
      EXPECT_EQ(platform.GetLastError(), test.error);
    }
    EXPECT_EQ(platform.files[kPath], test.after);
    EXPECT_EQ(platform.OpenHandles(), 0U);
  }
}

}  // namespace
}  // namespace svcentry
