// The platform layer on POSIX, for development, sanitizers and fuzzing.
//
// POSIX has no system directory: it is fixed when the build is configured
// (SVCENTRY_SYSTEM_DIRECTORY). Paths use `\` as on Windows and are read here
// with `/` in its place.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/platform.h"

#ifndef SVCENTRY_SYSTEM_DIRECTORY
#error "SVCENTRY_SYSTEM_DIRECTORY must name the sandbox system directory"
#endif

// File positions travel as 64 bits; a narrower off_t would cut them.
static_assert(sizeof(off_t) == sizeof(std::int64_t));

namespace svcentry {

const std::uint32_t kErrorNegativeSeek = EINVAL;
const std::uint32_t kErrorHandleEof = ENODATA;
const std::uint32_t kErrorWroteNothing = ENOSPC;

namespace {

class PosixPlatform final : public Platform {
 public:
  std::uint32_t GetSystemDirectoryA(char* buffer, std::uint32_t size) override {
    const std::size_t length = std::strlen(kSystemDirectory);
    if (length >= size) {
      return static_cast<std::uint32_t>(length + 1);
    }
    std::memcpy(buffer, kSystemDirectory, length + 1);
    return static_cast<std::uint32_t>(length);
  }

  std::uint32_t GetLastError() override { return last_error_; }

  void SetLastError(std::uint32_t error) override { last_error_ = error; }

  FileHandle CreateFileA(const char* path, FileAccess access,
                         FileCreation creation) override {
    std::string native_path(path);
    for (char& c : native_path) {
      if (c == '\\') {
        c = '/';
      }
    }
    // O_APPEND makes every write land at the end as one unit, which is the
    // only kind of write this layer offers.
    int flags = O_CLOEXEC;
    flags |= access == FileAccess::kRead ? O_RDONLY : O_RDWR | O_APPEND;
    flags |= creation == FileCreation::kOpenAlways ? O_CREAT : 0;
    const int fd = open(native_path.c_str(), flags, 0644);
    if (fd < 0) {
      return Fail(kInvalidFileHandle);
    }
    // A directory opens for reading here but not on Windows; refuse it at
    // the open, as Windows does, rather than at the first read.
    struct stat status {};
    if (fstat(fd, &status) != 0 || S_ISDIR(status.st_mode)) {
      const int error = S_ISDIR(status.st_mode) ? EISDIR : errno;
      close(fd);
      errno = error;
      return Fail(kInvalidFileHandle);
    }
    return fd;
  }

  bool ReadFile(FileHandle file, void* buffer, std::uint32_t size,
                std::uint32_t* bytes_read) override {
    const ssize_t got = read(static_cast<int>(file), buffer, size);
    if (got < 0) {
      return Fail(false);
    }
    *bytes_read = static_cast<std::uint32_t>(got);
    return true;
  }

  bool WriteFile(FileHandle file, const void* data, std::uint32_t size,
                 std::uint32_t* bytes_written) override {
    const ssize_t put = write(static_cast<int>(file), data, size);
    if (put < 0) {
      return Fail(false);
    }
    *bytes_written = static_cast<std::uint32_t>(put);
    return true;
  }

  bool SetFilePointerEx(FileHandle file, std::int64_t distance,
                        SeekOrigin origin,
                        std::int64_t* new_position) override {
    const off_t moved =
        lseek(static_cast<int>(file), distance,
              origin == SeekOrigin::kBegin ? SEEK_SET : SEEK_END);
    if (moved < 0) {
      return Fail(false);
    }
    *new_position = moved;
    return true;
  }

  bool SetEndOfFile(FileHandle file) override {
    const int fd = static_cast<int>(file);
    const off_t position = lseek(fd, 0, SEEK_CUR);
    if (position < 0 || ftruncate(fd, position) != 0) {
      return Fail(false);
    }
    return true;
  }

  bool FlushFileBuffers(FileHandle file) override {
    return fsync(static_cast<int>(file)) == 0 || Fail(false);
  }

  bool CloseHandle(FileHandle file) override {
    return close(static_cast<int>(file)) == 0 || Fail(false);
  }

  bool WriteStandardOutput(const char* text, std::size_t size) override {
    const bool written = std::fwrite(text, 1, size, stdout) == size;
    return std::fflush(stdout) == 0 && written;
  }

 private:
  static constexpr const char* kSystemDirectory = SVCENTRY_SYSTEM_DIRECTORY;

  // Keeps errno of the call that failed, so that later successful calls of
  // the C library cannot change what GetLastError() reports.
  template <typename T>
  T Fail(T result) {
    last_error_ = static_cast<std::uint32_t>(errno);
    return result;
  }

  std::uint32_t last_error_ = 0;
};

}  // namespace

Platform& SystemPlatform() {
  static PosixPlatform platform;
  return platform;
}

}  // namespace svcentry
