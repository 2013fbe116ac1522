// Google Benchmark's console report, followed by a summary that sets each
// loop's throughput beside a baseline loop's over the same file.
#pragma once

#include <benchmark/benchmark.h>

#include <string>
#include <utility>
#include <vector>

namespace svcentry::bench {

/// Benchmarks are named "<loop>/<file>" and set their bytes processed. The
/// summary has one row a file, a column a loop in the order they ran, and the
/// ratio of the first loop's throughput to each other loop's. With
/// repetitions the medians are summarised.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  using ConsoleReporter::ConsoleReporter;

  /// True once a benchmark reported an error.
  [[nodiscard]] bool SawError() const { return saw_error_; }

  void ReportRuns(const std::vector<Run>& runs) override;
  void Finalize() override;

 private:
  struct Row {
    std::string file;
    // Bytes a second, in the order of loops_; 0 where none was measured.
    std::vector<double> rates;
  };

  void Record(const std::string& loop, const std::string& file, double rate);

  bool saw_error_ = false;
  std::vector<std::string> loops_;
  std::vector<Row> rows_;
};

}  // namespace svcentry::bench
