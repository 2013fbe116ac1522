// An in-memory platform for tests: files are byte strings, every call is
// logged in order, and any single call can be made to fail. The fuzz
// targets run it millions of times, so a call costs no allocation of its
// own and a read finds its file without a lookup.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace svcentry {

// Windows error codes the tests plant; the fake reports whatever it is told.
inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorInvalidHandle = 6;
inline constexpr std::uint32_t kErrorSharingViolation = 32;
inline constexpr std::uint32_t kErrorDiskFull = 112;
inline constexpr std::uint32_t kErrorAlreadyExists = 183;

class FakePlatform final : public Platform {
 public:
  /// The path the tool builds from the default system directory.
  static constexpr const char* kServicesPath =
      "C:\\Windows\\system32\\Drivers\\etc\\services";

  /// Makes call number `call` (counted from 1 over all calls) fail with
  /// `error`. A failing read or write first moves `transferred` bytes; with
  /// `short_success` it then reports success instead (a short transfer).
  struct Fault {
    std::size_t call = 0;
    std::uint32_t error = 0;
    std::uint32_t transferred = 0;
    bool short_success = false;
  };

  std::string system_directory = "C:\\Windows\\system32";
  std::map<std::string, std::string> files;
  std::set<std::string> directories;
  /// Files that open for reading only, as if another program held them so.
  std::set<std::string> read_only;
  Fault fault;
  /// A later call to fail too, for faults while recovering from the first.
  Fault second_fault;
  /// When not 0, every close fails with this code (the handle is gone all
  /// the same), as when the file system reports a late write error there.
  std::uint32_t close_error = 0;
  /// Before call number `foreign_append_call`, another program appends
  /// `foreign_append` to the services file.
  std::size_t foreign_append_call = 0;
  std::string foreign_append;

  /// The names of the calls made, in order.
  std::vector<std::string_view> calls;
  std::string standard_output;
  /// Handles still open when standard output was written.
  std::size_t open_at_output = 0;

  [[nodiscard]] std::size_t OpenHandles() const { return handles_.size(); }
  /// Whether the injected fault was reached.
  [[nodiscard]] bool FaultHit() const {
    return fault.call != 0 && calls.size() >= fault.call;
  }

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

 private:
  struct OpenFile {
    // The file's node in `files`, which stays where it is while it is open.
    std::string* contents;
    FileAccess access;
    std::int64_t position;
  };

  // Logs the call; true when it is the one to fail.
  bool Enter(std::string_view name);
  bool Fail(std::uint32_t error);
  // Copies up to `size` bytes, fewer when a short transfer is planted.
  std::uint32_t Allowed(bool failing, std::uint32_t size) const;

  std::map<FileHandle, OpenFile> handles_;
  FileHandle next_handle_ = 100;
  std::uint32_t last_error_ = 0;
  const Fault* active_fault_ = nullptr;
};

}  // namespace svcentry
