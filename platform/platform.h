// The platform layer: every operating-system call the tool makes.
//
// Abstract so that tests can replace it with a fake that keeps files in
// memory, logs every call and fails any chosen one. The real implementations
// (windows_platform.cpp, posix_platform.cpp) are thin forwarders; CMake picks
// one. Each method is named after the Windows call it stands for and keeps
// that call's contract: false (or 0, or kInvalidFileHandle) means failure, and
// GetLastError() then tells why.
#pragma once

#include <cstddef>
#include <cstdint>

namespace svcentry {

using FileHandle = std::intptr_t;
inline constexpr FileHandle kInvalidFileHandle = -1;

enum class FileAccess { kRead, kReadWrite };
enum class FileCreation { kOpenExisting, kOpenAlways };
enum class SeekOrigin { kBegin, kEnd };

// The code a move to a negative file position fails with: Windows reports
// ERROR_NEGATIVE_SEEK, POSIX lseek reports EINVAL.
extern const std::uint32_t kErrorNegativeSeek;

// The code for a read that found the end of the file where a byte was
// expected: Windows ERROR_HANDLE_EOF, POSIX ENODATA. A read that merely
// delivers nothing sets no code of its own.
extern const std::uint32_t kErrorHandleEof;

// The code for a write that reports success yet moves no byte, which sets
// none of its own: Windows ERROR_DISK_FULL, POSIX ENOSPC, its likeliest
// cause.
extern const std::uint32_t kErrorWroteNothing;

class Platform {
 public:
  Platform() = default;
  Platform(const Platform&) = delete;
  Platform& operator=(const Platform&) = delete;

  /// Writes the system directory, NUL-terminated and without a trailing
  /// separator, into `buffer`. Returns its length; the size needed (terminator
  /// included) when `size` is too small; 0 on failure.
  virtual std::uint32_t GetSystemDirectoryA(char* buffer,
                                            std::uint32_t size) = 0;

  /// The error code of the last call that failed.
  virtual std::uint32_t GetLastError() = 0;

  /// Puts back a code that later calls may have changed.
  virtual void SetLastError(std::uint32_t error) = 0;

  /// Opens `path` (a `\` separates directories) so that other programs may
  /// still read and write the file. kOpenAlways creates a missing file.
  virtual FileHandle CreateFileA(const char* path, FileAccess access,
                                 FileCreation creation) = 0;

  /// Reads up to `size` bytes at the file position; `*bytes_read` is 0 at
  /// the end of the file.
  virtual bool ReadFile(FileHandle file, void* buffer, std::uint32_t size,
                        std::uint32_t* bytes_read) = 0;

  /// Writes at the file's end as it stands at the time of the call, as one
  /// unit: the append of another program that also writes at the end in
  /// one step cannot land inside these bytes (one that moves to the end and
  /// then writes can).
  /// `*bytes_written` may be less than `size` (a full disk, a size limit).
  virtual bool WriteFile(FileHandle file, const void* data, std::uint32_t size,
                         std::uint32_t* bytes_written) = 0;

  /// Moves the file position; `*new_position` receives it from the start.
  virtual bool SetFilePointerEx(FileHandle file, std::int64_t distance,
                                SeekOrigin origin,
                                std::int64_t* new_position) = 0;

  /// Cuts the file (or extends it) at the file position.
  virtual bool SetEndOfFile(FileHandle file) = 0;

  /// Moves everything written so far to stable storage.
  virtual bool FlushFileBuffers(FileHandle file) = 0;

  virtual bool CloseHandle(FileHandle file) = 0;

  /// Writes to standard output in text mode: on Windows "\n" reaches the
  /// console as CR LF. No other byte is converted.
  virtual bool WriteStandardOutput(const char* text, std::size_t size) = 0;

 protected:
  // Nothing is deleted through this interface: without a virtual destructor
  // the program links no operator delete, nor any other part of the C++
  // runtime.
  ~Platform() = default;
};

/// The platform the program runs on.
Platform& SystemPlatform();

}  // namespace svcentry
