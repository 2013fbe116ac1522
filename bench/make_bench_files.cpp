// Makes the bench files that are missing and lists them, one a line:
// name, size in bytes and path, separated by tabs. Arguments pick files by
// name; without any, all of them are made.
#include <cstdio>
#include <cstring>
#include <string>

#include "bench/bench_files.h"

#ifndef SVCENTRY_BENCH_DATA_DIRECTORY
#error "SVCENTRY_BENCH_DATA_DIRECTORY must name where the bench files live"
#endif

int main(int argc, char** argv) {
  int status = 0;
  int picked = 0;
  for (const svcentry::bench::BenchFile& file : svcentry::bench::kBenchFiles) {
    bool wanted = argc == 1;
    for (int i = 1; i < argc; ++i) {
      wanted = wanted || std::strcmp(argv[i], file.name) == 0;
    }
    if (!wanted) {
      continue;
    }
    ++picked;
    const std::string path =
        svcentry::bench::PrepareBenchFile(SVCENTRY_BENCH_DATA_DIRECTORY, file);
    if (path.empty()) {
      status = 1;
      continue;
    }
    std::printf("%s\t%llu\t%s\n", file.name,
                static_cast<unsigned long long>(file.size), path.c_str());
  }
  return picked == argc - 1 || argc == 1 ? status : 1;
}
