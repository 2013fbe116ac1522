// Holds the platform layer the program runs on to the contract of
// platform/platform.h, with real files in a directory of its own. The same
// table runs natively and, cross-built, under Wine.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>

#include <cerrno>
#endif

namespace svcentry {
namespace {

namespace fs = std::filesystem;

#ifdef _WIN32
constexpr std::uint32_t kErrorBadHandle = ERROR_INVALID_HANDLE;
#else
constexpr std::uint32_t kErrorBadHandle = EBADF;
#endif

// Both platforms' code for a missing file.
constexpr std::uint32_t kErrorFileNotFound = 2;

std::string Failed(std::uint32_t error) {
  return "error " + std::to_string(error);
}

// The answers of calls made one after the other: the elements of a braced
// list are evaluated in order, the operands of + are not.
std::string Steps(std::initializer_list<std::string> answers) {
  std::string joined;
  for (const std::string& answer : answers) {
    joined += (joined.empty() ? "" : ", ") + answer;
  }
  return joined;
}

// One case's calls on its own file. Handles the case leaves open are closed
// when it ends, so that its directory can be removed.
class Calls {
 public:
  Calls(Platform& platform, std::string path)
      : platform_(platform), path_(std::move(path)) {}
  Calls(const Calls&) = delete;
  Calls& operator=(const Calls&) = delete;
  ~Calls() {
    for (const FileHandle file : open_) {
      platform_.CloseHandle(file);
    }
  }

  FileHandle Open(FileCreation creation = FileCreation::kOpenExisting,
                  FileAccess access = FileAccess::kReadWrite) {
    const FileHandle file =
        platform_.CreateFileA(path_.c_str(), access, creation);
    if (file != kInvalidFileHandle) {
      Adopt(file);
    }
    return file;
  }

  /// Closes `file` when the case ends.
  void Adopt(FileHandle file) { open_.push_back(file); }

  std::string Move(FileHandle file, std::int64_t distance, SeekOrigin origin) {
    std::int64_t position = -1;
    return platform_.SetFilePointerEx(file, distance, origin, &position)
               ? std::to_string(position)
               : Error();
  }

  std::string Read(FileHandle file) {
    std::string bytes(16, '\0');
    std::uint32_t got = 0;
    if (!platform_.ReadFile(file, bytes.data(), 16, &got)) {
      return Error();
    }
    return "read '" + bytes.substr(0, got) + "'";
  }

  std::string Write(FileHandle file, const std::string& bytes) {
    std::uint32_t put = 0;
    return platform_.WriteFile(file, bytes.data(),
                               static_cast<std::uint32_t>(bytes.size()), &put)
               ? "wrote " + std::to_string(put)
               : Error();
  }

  std::string Close(FileHandle file) {
    open_.erase(std::remove(open_.begin(), open_.end(), file), open_.end());
    return Ok(platform_.CloseHandle(file));
  }

  std::string Ok(bool ok) { return ok ? "ok" : Error(); }

  std::string Error() { return Failed(platform_.GetLastError()); }

  Platform& Layer() { return platform_; }

 private:
  Platform& platform_;
  std::string path_;
  std::vector<FileHandle> open_;
};

#ifdef _WIN32
// FlushFileBuffers needs write access.
constexpr std::uint32_t kErrorCannotFlush = ERROR_ACCESS_DENIED;

FileHandle Unflushable(Calls& c) {
  return c.Open(FileCreation::kOpenExisting, FileAccess::kRead);
}
#else
// fsync refuses a pipe.
constexpr std::uint32_t kErrorCannotFlush = EINVAL;

FileHandle Unflushable(Calls& c) {
  int ends[2] = {-1, -1};
  EXPECT_EQ(pipe(ends), 0);
  c.Adopt(ends[0]);
  c.Adopt(ends[1]);
  return ends[0];
}
#endif

// What the system directory call returns for a buffer of its length plus
// `extra`, less that length, and what stands behind that length afterwards.
std::string SystemDirectoryIn(Platform& platform, std::uint32_t extra) {
  std::string directory(4096, '\0');
  const std::uint32_t length = platform.GetSystemDirectoryA(
      directory.data(), static_cast<std::uint32_t>(directory.size()));
  std::string buffer(length + extra + 1, '#');
  const std::uint32_t result =
      platform.GetSystemDirectoryA(buffer.data(), length + extra);
  return std::to_string(std::int64_t{result} - length) + ", '" +
         buffer.substr(length) + "'";
}

std::optional<std::string> Contents(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    return std::nullopt;
  }
  return std::string{std::istreambuf_iterator<char>(in),
                     std::istreambuf_iterator<char>()};
}

// A directory of its own under the system's temporary directory.
class Scratch {
 public:
  Scratch() {
    std::random_device random;
    do {
      directory_ = fs::temp_directory_path() /
                   ("svcentry-platform-" + std::to_string(random()));
    } while (!fs::create_directory(directory_));
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  ~Scratch() {
    std::error_code ignored;
    fs::remove_all(directory_, ignored);
  }

  [[nodiscard]] fs::path File(std::size_t number) const {
    return directory_ / std::to_string(number);
  }

 private:
  fs::path directory_;
};

struct Case {
  const char* name;
  std::optional<std::string> before;  // nullopt: no file
  std::function<std::string(Calls&)> calls;
  std::string result;
  std::optional<std::string> after;
};

TEST(PlatformContract, EachCallKeepsItsPromise) {
  const std::vector<Case> cases = {
      {"a move from the start reports the position", "abcdef",
       [](Calls& c) { return c.Move(c.Open(), 4, SeekOrigin::kBegin); }, "4",
       "abcdef"},
      {"a move from the end reports the position", "abcdef",
       [](Calls& c) { return c.Move(c.Open(), -2, SeekOrigin::kEnd); }, "4",
       "abcdef"},
      {"a move before the start fails with the code the stream expects", "",
       [](Calls& c) { return c.Move(c.Open(), -1, SeekOrigin::kEnd); },
       Failed(kErrorNegativeSeek), ""},
      {"open existing does not create", std::nullopt,
       [](Calls& c) { return c.Ok(c.Open() != kInvalidFileHandle); },
       Failed(kErrorFileNotFound), std::nullopt},
      {"open always creates", std::nullopt,
       [](Calls& c) {
         return c.Ok(c.Open(FileCreation::kOpenAlways) != kInvalidFileHandle);
       },
       "ok", ""},
      {"open always keeps what the file holds", "abc",
       [](Calls& c) {
         return c.Ok(c.Open(FileCreation::kOpenAlways) != kInvalidFileHandle);
       },
       "ok", "abc"},
      {"a read takes what stands at the position, then nothing", "abcdef",
       [](Calls& c) {
         const FileHandle file = c.Open();
         return Steps(
             {c.Move(file, 4, SeekOrigin::kBegin), c.Read(file), c.Read(file)});
       },
       "4, read 'ef', read ''", "abcdef"},
      {"a write lands at the end, not at the position", "abc",
       [](Calls& c) {
         const FileHandle file = c.Open();
         return Steps(
             {c.Move(file, 1, SeekOrigin::kBegin), c.Write(file, "xy")});
       },
       "1, wrote 2", "abcxy"},
      {"a write lands behind what another handle appended", "abc",
       [](Calls& c) {
         const FileHandle first = c.Open();
         const FileHandle second = c.Open();
         return Steps({c.Write(second, "1"), c.Write(first, "2")});
       },
       "wrote 1, wrote 1", "abc12"},
      {"a cut at the position", "abcdef",
       [](Calls& c) {
         const FileHandle file = c.Open();
         return Steps({c.Move(file, 2, SeekOrigin::kBegin),
                       c.Ok(c.Layer().SetEndOfFile(file))});
       },
       "2, ok", "ab"},
      {"a flush that cannot be done fails", "abc",
       [](Calls& c) {
         return c.Ok(c.Layer().FlushFileBuffers(Unflushable(c)));
       },
       Failed(kErrorCannotFlush), "abc"},
      {"a closed handle is gone", "abc",
       [](Calls& c) {
         const FileHandle file = c.Open();
         return Steps({c.Close(file), c.Read(file)});
       },
       "ok, " + Failed(kErrorBadHandle), "abc"},
      {"a code set is the code got", std::nullopt,
       [](Calls& c) {
         c.Layer().SetLastError(1234);
         return c.Error();
       },
       Failed(1234), std::nullopt},
      {"a system directory that fills the buffer is too long", std::nullopt,
       [](Calls& c) { return SystemDirectoryIn(c.Layer(), 0); }, "1, '#'",
       std::nullopt},
      {"a system directory with room for its end is copied", std::nullopt,
       [](Calls& c) { return SystemDirectoryIn(c.Layer(), 1); },
       "0, '" + std::string(1, '\0') + "#'", std::nullopt},
  };
  const Scratch scratch;
  for (std::size_t number = 0; number < cases.size(); ++number) {
    const Case& test = cases[number];
    SCOPED_TRACE(test.name);
    const fs::path path = scratch.File(number);
    if (test.before) {
      std::ofstream(path, std::ios::binary) << *test.before;
    }
    // The layer takes `\` as the separator, as the tool writes its paths.
    std::string layer_path = path.string();
    std::replace(layer_path.begin(), layer_path.end(), '/', '\\');
    std::string result;
    {
      Calls calls(SystemPlatform(), layer_path);
      result = test.calls(calls);
    }
    EXPECT_EQ(result, test.result);
    EXPECT_EQ(Contents(path), test.after);
  }
}

}  // namespace
}  // namespace svcentry
