// Runs the whole registration on arbitrary services files and checks the end
// state against the reference reading of the file.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_check.h"
#include "fuzz/reference_model.h"
#include "registration/registration_run.h"
#include "tests/fake_platform.h"

namespace {

using svcentry::Require;

constexpr std::size_t kChunkLimit = 999;

bool EntryVisible(const std::string& file) {
  return std::ranges::any_of(
      svcentry::reference::Chunks(file, kChunkLimit),
      [](const std::string& chunk) {
        return chunk.starts_with(svcentry::kServicesEntry);
      });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size < 1) {
    return 0;
  }
  // Byte 0 chooses tiny blocks (1 to 128 bytes) or the run's own.
  const std::size_t block_size = data[0] < 128
                                     ? std::size_t{data[0]} + 1
                                     : svcentry::TextStream::kBlockSize;
  const std::string file(reinterpret_cast<const char*>(data + 1), size - 1);
  const char* path = svcentry::FakePlatform::kServicesPath;

  svcentry::FakePlatform platform;
  platform.files[path] = file;
  Require(svcentry::RunRegistration(platform, block_size) == 0,
          "a readable, writable file ends with exit code 0");
  const std::string& after = platform.files[path];
  if (EntryVisible(file)) {
    Require(after == file, "a file with the entry is left as it was");
    return 0;
  }
  std::string expected = file;
  if (!expected.empty() && expected.back() == '\x1a') {
    expected.pop_back();
  }
  if (!expected.empty() && expected.back() != '\n') {
    expected += "\r\n";
  }
  expected += std::string(svcentry::kServicesEntry) + "\r\n";
  Require(after == expected,
          "the old bytes, a line end when needed, then the entry line");
  return 0;
}
