// Feeds arbitrary file bytes, block sizes and line capacities through the
// text stream and compares every chunk and indicator with the reference.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "fuzz/reference_model.h"
#include "registration/text_stream.h"
#include "tests/fake_platform.h"

namespace {

using svcentry::Require;

constexpr std::size_t kLineCapacity = 1000;
constexpr char kFiller = '\xa5';

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size < 3) {
    return 0;
  }
  // Bytes 0-1 choose the block size, byte 2 the capacity: the run's own
  // 1000 when odd, a small one that cuts lines often when even.
  const std::size_t block_size =
      1 + ((std::size_t{data[0]} | std::size_t{data[1]} << 8U) %
           svcentry::TextStream::kBlockSize);
  const std::size_t capacity =
      (data[2] & 1U) != 0 ? kLineCapacity : 2 + std::size_t{data[2]} / 2;
  const std::string file(reinterpret_cast<const char*>(data + 3), size - 3);

  svcentry::FakePlatform platform;
  platform.files[svcentry::FakePlatform::kServicesPath] = file;
  svcentry::TextStream stream(platform, block_size);
  Require(stream.OpenForScanning(svcentry::FakePlatform::kServicesPath),
          "an existing file opens");

  const std::vector<std::string> expected =
      svcentry::reference::Chunks(file, capacity - 1);
  char line[kLineCapacity];
  for (const std::string& chunk : expected) {
    std::memset(line, kFiller, sizeof line);
    Require(!stream.AtEnd(), "the end is not reached before the last chunk");
    Require(stream.ReadChunk(line, capacity), "every chunk is delivered");
    Require(
        chunk == std::string(line, chunk.size()) && line[chunk.size()] == '\0',
        "each chunk holds the reference's bytes and a terminator");
    // Only a chunk that the data cut short found the end of the file.
    const bool cut_short = chunk.back() != '\n' && chunk.size() < capacity - 1;
    Require(stream.AtEnd() == cut_short, "the end is set by an empty read");
    Require(!stream.HasError(), "no error without a refused read");
  }
  std::memset(line, kFiller, sizeof line);
  Require(!stream.ReadChunk(line, capacity), "nothing after the last chunk");
  Require(line[0] == kFiller, "a read that delivers nothing leaves the buffer");
  Require(stream.AtEnd() && !stream.HasError(), "the end, and no error");
  Require(stream.Close(), "the file closes");
  return 0;
}
