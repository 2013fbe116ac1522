#include "platform/windows_platform.h"

#include <windows.h>

#include <cstdio>

namespace svcentry {

const std::uint32_t kErrorNegativeSeek = ERROR_NEGATIVE_SEEK;
const std::uint32_t kErrorHandleEof = ERROR_HANDLE_EOF;
const std::uint32_t kErrorWroteNothing = ERROR_DISK_FULL;

namespace {

// A HANDLE crosses the seam as an integer, so that the seam's header needs
// no Windows header.
HANDLE ToHandle(FileHandle file) {
  return reinterpret_cast<HANDLE>(file);  // NOLINT(performance-no-int-to-ptr)
}

}  // namespace

std::uint32_t WindowsPlatform::GetSystemDirectoryA(char* buffer,
                                                   std::uint32_t size) {
  return ::GetSystemDirectoryA(buffer, size);
}

std::uint32_t WindowsPlatform::GetLastError() { return ::GetLastError(); }

void WindowsPlatform::SetLastError(std::uint32_t error) {
  ::SetLastError(error);
}

FileHandle WindowsPlatform::CreateFileA(const char* path, FileAccess access,
                                        FileCreation creation) {
  const DWORD desired =
      access == FileAccess::kRead ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
  const DWORD disposition =
      creation == FileCreation::kOpenExisting ? OPEN_EXISTING : OPEN_ALWAYS;
  HANDLE file =
      ::CreateFileA(path, desired, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  return file == INVALID_HANDLE_VALUE ? kInvalidFileHandle
                                      : reinterpret_cast<FileHandle>(file);
}

bool WindowsPlatform::ReadFile(FileHandle file, void* buffer,
                               std::uint32_t size, std::uint32_t* bytes_read) {
  DWORD got = 0;
  const BOOL ok = ::ReadFile(ToHandle(file), buffer, size, &got, nullptr);
  *bytes_read = got;
  return ok != FALSE;
}

bool WindowsPlatform::WriteFile(FileHandle file, const void* data,
                                std::uint32_t size,
                                std::uint32_t* bytes_written) {
  // An offset of 0xFFFFFFFF:0xFFFFFFFF is the documented way to write at
  // the end of the file as one unit on a handle that keeps GENERIC_WRITE,
  // which the stream needs to shorten the file. Wine emulates it in two
  // steps (it takes the size, then writes there), so under Wine another
  // program's append at that very moment can collide with these bytes.
  OVERLAPPED at_end{};
  at_end.Offset = 0xFFFFFFFF;
  at_end.OffsetHigh = 0xFFFFFFFF;
  DWORD put = 0;
  const BOOL ok = ::WriteFile(ToHandle(file), data, size, &put, &at_end);
  *bytes_written = put;
  return ok != FALSE;
}

bool WindowsPlatform::SetFilePointerEx(FileHandle file, std::int64_t distance,
                                       SeekOrigin origin,
                                       std::int64_t* new_position) {
  LARGE_INTEGER move{};
  move.QuadPart = distance;
  LARGE_INTEGER moved{};
  const BOOL ok =
      ::SetFilePointerEx(ToHandle(file), move, &moved,
                         origin == SeekOrigin::kBegin ? FILE_BEGIN : FILE_END);
  *new_position = moved.QuadPart;
  return ok != FALSE;
}

bool WindowsPlatform::SetEndOfFile(FileHandle file) {
  return ::SetEndOfFile(ToHandle(file)) != FALSE;
}

bool WindowsPlatform::FlushFileBuffers(FileHandle file) {
  return ::FlushFileBuffers(ToHandle(file)) != FALSE;
}

bool WindowsPlatform::CloseHandle(FileHandle file) {
  return ::CloseHandle(ToHandle(file)) != FALSE;
}

bool WindowsPlatform::WriteStandardOutput(const char* text, std::size_t size) {
  // stdout is in text mode, which turns "\n" into CR LF.
  const bool written = std::fwrite(text, 1, size, stdout) == size;
  return std::fflush(stdout) == 0 && written;
}

Platform& SystemPlatform() {
  static WindowsPlatform platform;
  return platform;
}

}  // namespace svcentry
