// The services files the benchmarks read, generated on demand.
//
// Each file ends, a few lines before its last byte, with the one line that
// holds the services entry, so a run over it takes the "already exists" path
// only after scanning the whole file. Generation is deterministic: the same
// size always gives the same bytes, so a file of the right size is reused.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace svcentry::bench {

struct BenchFile {
  /// Used in file and benchmark names.
  const char* name;
  std::uint64_t size;
  /// Lines longer than one 999-character chunk, spread over the file.
  int long_lines;
};

inline constexpr std::array<BenchFile, 4> kBenchFiles = {{
    {"17KB", 17'000, 0},
    // About the size of a file that lists the whole public port registry.
    {"1.5MB", 1'500'000, 0},
    {"100MB", 100'000'000, 8},
    {"1GB", 1'000'000'000, 8},
}};

/// Returns the path of `file` in `directory`, generating the file unless one
/// of the right size is there. Returns an empty string, after a message on
/// standard error, when the file cannot be made.
std::string PrepareBenchFile(const std::string& directory,
                             const BenchFile& file);

/// Reads the whole file once, so that measurements find it in the page
/// cache. Returns false when it cannot be read.
bool LoadIntoPageCache(const std::string& path);

}  // namespace svcentry::bench
