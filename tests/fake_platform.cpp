#include "tests/fake_platform.h"

#include <algorithm>
#include <cstring>

namespace svcentry {

const std::uint32_t kErrorNegativeSeek = 131;
const std::uint32_t kErrorHandleEof = 38;
const std::uint32_t kErrorWroteNothing = kErrorDiskFull;

bool FakePlatform::Enter(std::string_view name) {
  calls.push_back(name);
  if (foreign_append_call == calls.size()) {
    files[kServicesPath] += foreign_append;
  }
  active_fault_ = fault.call == calls.size()          ? &fault
                  : second_fault.call == calls.size() ? &second_fault
                                                      : nullptr;
  return active_fault_ != nullptr;
}

bool FakePlatform::Fail(std::uint32_t error) {
  last_error_ = error;
  return false;
}

std::uint32_t FakePlatform::Allowed(bool failing, std::uint32_t size) const {
  return failing ? std::min(size, active_fault_->transferred) : size;
}

std::uint32_t FakePlatform::GetSystemDirectoryA(char* buffer,
                                                std::uint32_t size) {
  if (Enter("GetSystemDirectoryA")) {
    Fail(active_fault_->error);
    return 0;
  }
  const auto length = static_cast<std::uint32_t>(system_directory.size());
  if (length >= size) {
    return length + 1;
  }
  std::memcpy(buffer, system_directory.c_str(), length + 1);
  return length;
}

std::uint32_t FakePlatform::GetLastError() {
  calls.emplace_back("GetLastError");
  return last_error_;
}

void FakePlatform::SetLastError(std::uint32_t error) {
  calls.emplace_back("SetLastError");
  last_error_ = error;
}

FileHandle FakePlatform::CreateFileA(const char* path, FileAccess access,
                                     FileCreation creation) {
  if (Enter("CreateFileA")) {
    Fail(active_fault_->error);
    return kInvalidFileHandle;
  }
  if (directories.contains(path) ||
      (access == FileAccess::kReadWrite && read_only.contains(path))) {
    Fail(kErrorAccessDenied);
    return kInvalidFileHandle;
  }
  if (!files.contains(path)) {
    if (creation == FileCreation::kOpenExisting) {
      Fail(kErrorFileNotFound);
      return kInvalidFileHandle;
    }
    files[path] = "";
  } else if (creation == FileCreation::kOpenAlways) {
    // As Windows does: the open succeeds and leaves this code behind.
    last_error_ = kErrorAlreadyExists;
  }
  handles_[next_handle_] = OpenFile{&files[path], access, 0};
  return next_handle_++;
}

bool FakePlatform::ReadFile(FileHandle file, void* buffer, std::uint32_t size,
                            std::uint32_t* bytes_read) {
  const bool failing = Enter("ReadFile");
  OpenFile& open = handles_.at(file);
  const std::string& data = *open.contents;
  const auto start =
      std::min(static_cast<std::size_t>(open.position), data.size());
  const auto count =
      Allowed(failing, static_cast<std::uint32_t>(
                           std::min<std::size_t>(size, data.size() - start)));
  std::memcpy(buffer, data.data() + start, count);
  open.position += count;
  *bytes_read = count;
  return !failing || active_fault_->short_success || Fail(active_fault_->error);
}

bool FakePlatform::WriteFile(FileHandle file, const void* data,
                             std::uint32_t size, std::uint32_t* bytes_written) {
  const bool failing = Enter("WriteFile");
  OpenFile& open = handles_.at(file);
  if (open.access != FileAccess::kReadWrite) {
    *bytes_written = 0;
    return Fail(kErrorAccessDenied);
  }
  const std::uint32_t count = Allowed(failing, size);
  std::string& contents = *open.contents;
  contents.append(static_cast<const char*>(data), count);
  open.position = static_cast<std::int64_t>(contents.size());
  *bytes_written = count;
  return !failing || active_fault_->short_success || Fail(active_fault_->error);
}

bool FakePlatform::SetFilePointerEx(FileHandle file, std::int64_t distance,
                                    SeekOrigin origin,
                                    std::int64_t* new_position) {
  if (Enter("SetFilePointerEx")) {
    return Fail(active_fault_->error);
  }
  OpenFile& open = handles_.at(file);
  const std::int64_t base =
      origin == SeekOrigin::kBegin
          ? 0
          : static_cast<std::int64_t>(open.contents->size());
  if (base + distance < 0) {
    return Fail(kErrorNegativeSeek);
  }
  open.position = base + distance;
  *new_position = open.position;
  return true;
}

bool FakePlatform::SetEndOfFile(FileHandle file) {
  if (Enter("SetEndOfFile")) {
    return Fail(active_fault_->error);
  }
  const OpenFile& open = handles_.at(file);
  if (open.access != FileAccess::kReadWrite) {
    return Fail(kErrorAccessDenied);
  }
  open.contents->resize(static_cast<std::size_t>(open.position));
  return true;
}

bool FakePlatform::FlushFileBuffers(FileHandle /*file*/) {
  return !Enter("FlushFileBuffers") || Fail(active_fault_->error);
}

bool FakePlatform::CloseHandle(FileHandle file) {
  const bool failing = Enter("CloseHandle");
  // Like the real platforms, refuse a handle that is not open (closed
  // already, say), so that a second close shows.
  if (handles_.erase(file) == 0) {
    return Fail(kErrorInvalidHandle);
  }
  return (!failing || Fail(active_fault_->error)) &&
         (close_error == 0 || Fail(close_error));
}

bool FakePlatform::WriteStandardOutput(const char* text, std::size_t size) {
  open_at_output = handles_.size();
  if (Enter("WriteStandardOutput")) {
    return Fail(active_fault_->error);
  }
  standard_output.append(text, size);
  return true;
}

}  // namespace svcentry
