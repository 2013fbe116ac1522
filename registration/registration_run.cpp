#include "registration/registration_run.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace svcentry {

namespace {

constexpr std::size_t kEntryLength = sizeof kServicesEntry - 1;
constexpr char kPathSuffix[] = "\\Drivers\\etc\\services";
// The platform's longest path, terminator included.
constexpr std::size_t kPathBufferSize = 260;
constexpr std::size_t kLineBufferSize = 1000;
constexpr std::size_t kMessageBufferSize = 512;
// The platform's code for a file name that is too long.
constexpr std::int32_t kErrorFilenameTooLong = 206;
constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;

enum class ScanResult { kFound, kMissing, kReadFailed };

std::int32_t LastError(Platform& platform) {
  return static_cast<std::int32_t>(platform.GetLastError());
}

// Prints the run's one message and returns the exit code that goes with it.
template <typename... Arguments>
int Report(Platform& platform, int exit_code, const char* format,
           Arguments... arguments) {
  char message[kMessageBufferSize];
  const int length =
      std::snprintf(message, sizeof message, format, arguments...);
  if (length > 0) {
    platform.WriteStandardOutput(
        message,
        std::min(static_cast<std::size_t>(length), sizeof message - 1));
  }
  return exit_code;
}

// Builds the system directory followed by the suffix in `path`, which holds
// kPathBufferSize characters. On failure `*error` is the code to report.
bool BuildServicesPath(Platform& platform, char* path, std::int32_t* error) {
  const std::uint32_t length = platform.GetSystemDirectoryA(
      path, static_cast<std::uint32_t>(kPathBufferSize));
  if (length == 0) {
    *error = LastError(platform);
    return false;
  }
  // A directory that leaves no room for the suffix: the platform may have
  // returned the size it would need, which is no length inside the buffer.
  if (length + sizeof kPathSuffix > kPathBufferSize) {
    *error = kErrorFilenameTooLong;
    return false;
  }
  std::memcpy(path + length, kPathSuffix, sizeof kPathSuffix);
  return true;
}

// Reads the whole file, chunk by chunk, even after a match.
ScanResult ScanForEntry(TextStream& stream) {
  char line[kLineBufferSize];
  bool found = false;
  while (!stream.AtEnd()) {
    if (stream.ReadChunk(line, sizeof line) &&
        std::strncmp(line, kServicesEntry, kEntryLength) == 0) {
      found = true;
    }
    if (stream.HasError()) {
      return ScanResult::kReadFailed;
    }
  }
  return found ? ScanResult::kFound : ScanResult::kMissing;
}

int AppendEntry(Platform& platform, TextStream& stream, const char* path) {
  if (!stream.OpenForAppending(path)) {
    return Report(platform, kExitFailure,
                  "Can't open file %s for writing. Error \xB9%d", path,
                  LastError(platform));
  }
  // The entry must stand on a line of its own, so a last line without a
  // line end gets one first.
  char line[kLineBufferSize];
  // The entry and a line end always fit the line buffer.
  (void)std::snprintf(line, sizeof line, "%s%s\n",
                      stream.LastLineIsOpen() ? "\n" : "", kServicesEntry);
  // The text reaches the file at the latest when the stream is closed, so a
  // failed close is a failed append too.
  const bool written = stream.WriteText(line);
  const bool closed = stream.Close();
  if (!written || !closed) {
    return Report(platform, kExitFailure, "Can't append file %s. Error \xB9%d",
                  path, LastError(platform));
  }
  return Report(platform, kExitSuccess,
                "String '%s' was successfully added to file %s\n",
                kServicesEntry, path);
}

}  // namespace

int RunRegistration(Platform& platform, std::size_t block_size) {
  char path[kPathBufferSize];
  std::int32_t path_error = 0;
  if (!BuildServicesPath(platform, path, &path_error)) {
    return Report(platform, kExitFailure,
                  "GetSystemDirectory failed. Error \xB9%d", path_error);
  }
  TextStream stream(platform, block_size);
  if (!stream.OpenForScanning(path)) {
    return Report(platform, kExitFailure,
                  "Can't open file %s for reading. Error \xB9%d", path,
                  LastError(platform));
  }
  const ScanResult scan = ScanForEntry(stream);
  if (scan == ScanResult::kReadFailed) {
    // The refused read's code is taken before the close can change it.
    const std::int32_t read_error = LastError(platform);
    stream.Close();
    return Report(platform, kExitFailure, "Can't read file %s. Error \xB9%d",
                  path, read_error);
  }
  stream.Close();
  if (scan == ScanResult::kFound) {
    return Report(platform, kExitSuccess,
                  "String '%s' in file %s already exists\n", kServicesEntry,
                  path);
  }
  return AppendEntry(platform, stream, path);
}

}  // namespace svcentry
