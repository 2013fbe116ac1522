// Measures the text stream's chunk loop, driven as the registration run
// drives it, against the C library's fgets loop over the same cached files,
// and against reading alone, the least any scan of the file can cost.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "bench/bench_files.h"
#include "bench/ratio_reporter.h"
#include "platform/platform.h"
#include "registration/registration_run.h"
#include "registration/text_stream.h"

#ifndef SVCENTRY_BENCH_DATA_DIRECTORY
#error "SVCENTRY_BENCH_DATA_DIRECTORY must name where the bench files live"
#endif

namespace svcentry::bench {

namespace {

// The registration run's line buffer.
constexpr std::size_t kLineBufferSize = 1000;
constexpr std::size_t kEntryLength = sizeof kServicesEntry - 1;
// A stdio buffer as large as the text stream's blocks.
constexpr std::size_t kLargeStdioBuffer = TextStream::kBlockSize;

// Every bench file holds the entry once; the count is checked so that a loop
// that skips text cannot look fast.
constexpr int kEntriesPerFile = 1;

bool IsEntry(const char* chunk) {
  return std::strncmp(chunk, kServicesEntry, kEntryLength) == 0;
}

// Scans like the registration run. Returns the number of chunks that begin
// with the entry, or -1 when the file could not be read.
int ScanWithTextStream(const char* path) {
  TextStream stream(SystemPlatform());
  if (!stream.OpenForScanning(path)) {
    return -1;
  }
  char line[kLineBufferSize];
  int entries = 0;
  while (!stream.AtEnd() && !stream.HasError()) {
    if (stream.ReadChunk(line, sizeof line) && IsEntry(line)) {
      ++entries;
    }
  }
  const bool read_all = !stream.HasError();
  return stream.Close() && read_all ? entries : -1;
}

// The C library's loop; `stdio_buffer` replaces the default buffer when given.
int ScanWithFgets(const char* path, std::size_t stdio_buffer) {
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) {
    return -1;
  }
  std::string buffer(stdio_buffer, '\0');
  if (stdio_buffer > 0 &&
      std::setvbuf(file, buffer.data(), _IOFBF, buffer.size()) != 0) {
    (void)std::fclose(file);
    return -1;
  }
  char line[kLineBufferSize];
  int entries = 0;
  while (std::fgets(line, sizeof line, file) != nullptr) {
    if (IsEntry(line)) {
      ++entries;
    }
  }
  const bool read_all = std::ferror(file) == 0;
  return std::fclose(file) == 0 && read_all ? entries : -1;
}

// The path of `file`, made and loaded into the page cache on first use, so
// that only the benchmarks selected pay for their files.
const std::string& CachedBenchFile(const BenchFile& file) {
  static std::map<std::string, std::string> paths;
  auto [entry, added] = paths.try_emplace(file.name);
  if (added) {
    entry->second = PrepareBenchFile(SVCENTRY_BENCH_DATA_DIRECTORY, file);
    if (!entry->second.empty() && !LoadIntoPageCache(entry->second)) {
      entry->second.clear();
    }
  }
  return entry->second;
}

// Reads the file to its end as the stream does, block by block through the
// platform layer, and looks at nothing: it finds no entry.
int ReadAlone(const char* path) {
  Platform& platform = SystemPlatform();
  const FileHandle file = platform.CreateFileA(path, FileAccess::kRead,
                                               FileCreation::kOpenExisting);
  if (file == kInvalidFileHandle) {
    return -1;
  }
  std::array<char, TextStream::kBlockSize> block;
  std::uint32_t got = 0;
  bool read = true;
  do {
    read = platform.ReadFile(file, block.data(),
                             static_cast<std::uint32_t>(block.size()), &got);
  } while (read && got > 0);
  return platform.CloseHandle(file) && read ? 0 : -1;
}

int ScanWithDefaultFgets(const char* path) { return ScanWithFgets(path, 0); }

int ScanWithLargeFgets(const char* path) {
  return ScanWithFgets(path, kLargeStdioBuffer);
}

using Scan = int (*)(const char* path);

struct Loop {
  const char* name;
  Scan scan;
  // What the scan returns for every bench file.
  int entries;
};

// The first loop is the one measured, the others its baselines.
constexpr std::array<Loop, 4> kLoops = {{
    {"ReadChunk", ScanWithTextStream, kEntriesPerFile},
    {"fgets", ScanWithDefaultFgets, kEntriesPerFile},
    {"fgets_64K", ScanWithLargeFgets, kEntriesPerFile},
    {"ReadFile", ReadAlone, 0},
}};

void MeasureScan(benchmark::State& state, const Loop* loop,
                 const BenchFile* file) {
  const std::string& path = CachedBenchFile(*file);
  if (path.empty()) {
    state.SkipWithError("the bench file could not be made");
    return;
  }
  // The loop variable only drives the library's timing.
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
    if (loop->scan(path.c_str()) != loop->entries) {
      state.SkipWithError("the scan failed or miscounted the entry");
      break;
    }
  }
  state.SetBytesProcessed(state.iterations() *
                          static_cast<std::int64_t>(file->size));
}

void RegisterScans() {
  for (const BenchFile& file : kBenchFiles) {
    for (const Loop& loop : kLoops) {
      const std::string name = std::string(loop.name) + "/" + file.name;
      benchmark::RegisterBenchmark(name.c_str(), MeasureScan, &loop, &file)
          ->UseRealTime();
    }
  }
}

}  // namespace

}  // namespace svcentry::bench

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  svcentry::bench::RegisterScans();
  svcentry::bench::RatioReporter reporter(
      isatty(STDOUT_FILENO) != 0 ? benchmark::ConsoleReporter::OO_ColorTabular
                                 : benchmark::ConsoleReporter::OO_Tabular);
  const std::size_t ran = benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return ran > 0 && !reporter.SawError() ? 0 : 1;
}
