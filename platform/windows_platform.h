// The platform layer on Windows: kernel32, and the C runtime's standard
// output.
//
// Every way of starting the run on Windows uses it; the MSI custom action
// (msi_platform.h) differs only in where the one message goes, and so
// overrides WriteStandardOutput alone.
#pragma once

#include "platform/platform.h"

namespace svcentry {

class WindowsPlatform : public Platform {
 public:
  std::uint32_t GetSystemDirectoryA(char* buffer, std::uint32_t size) override;
  std::uint32_t GetLastError() override;
  void SetLastError(std::uint32_t error) override;
  FileHandle CreateFileA(const char* path, FileAccess access,
                         FileCreation creation) override;
  bool ReadFile(FileHandle file, void* buffer, std::uint32_t size,
                std::uint32_t* bytes_read) override;
  bool WriteFile(FileHandle file, const void* data, std::uint32_t size,
                 std::uint32_t* bytes_written) override;
  bool SetFilePointerEx(FileHandle file, std::int64_t distance,
                        SeekOrigin origin, std::int64_t* new_position) override;
  bool SetEndOfFile(FileHandle file) override;
  bool FlushFileBuffers(FileHandle file) override;
  bool CloseHandle(FileHandle file) override;
  bool WriteStandardOutput(const char* text, std::size_t size) override;
};

}  // namespace svcentry
