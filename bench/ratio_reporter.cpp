#include "bench/ratio_reporter.h"

#include <algorithm>
#include <iomanip>
#include <ostream>

namespace svcentry::bench {

namespace {

constexpr double kBytesPerMegabyte = 1e6;
constexpr int kFileWidth = 8;
constexpr int kColumnWidth = 20;

}  // namespace

void RatioReporter::ReportRuns(const std::vector<Run>& runs) {
  ConsoleReporter::ReportRuns(runs);
  for (const Run& run : runs) {
    saw_error_ = saw_error_ || run.error_occurred;
    const bool summarised = run.run_type == Run::RT_Aggregate
                                ? run.aggregate_name == "median"
                                : run.repetitions <= 1;
    const auto rate = run.counters.find("bytes_per_second");
    const std::string& name = run.run_name.function_name;
    const std::size_t slash = name.find('/');
    if (run.error_occurred || !summarised || rate == run.counters.end() ||
        slash == std::string::npos) {
      continue;
    }
    Record(name.substr(0, slash), name.substr(slash + 1), rate->second.value);
  }
}

void RatioReporter::Record(const std::string& loop, const std::string& file,
                           double rate) {
  const auto column = static_cast<std::size_t>(
      std::find(loops_.begin(), loops_.end(), loop) - loops_.begin());
  if (column == loops_.size()) {
    loops_.push_back(loop);
  }
  auto row = std::find_if(rows_.begin(), rows_.end(),
                          [&](const Row& r) { return r.file == file; });
  if (row == rows_.end()) {
    row = rows_.insert(rows_.end(), Row{file, {}});
  }
  row->rates.resize(loops_.size());
  row->rates[column] = rate;
}

void RatioReporter::Finalize() {
  ConsoleReporter::Finalize();
  if (loops_.size() < 2) {
    return;
  }
  std::ostream& out = GetOutputStream();
  out << '\n' << std::left << std::setw(kFileWidth) << "file" << std::right;
  for (const std::string& loop : loops_) {
    out << std::setw(kColumnWidth) << loop + " MB/s";
  }
  for (std::size_t i = 1; i < loops_.size(); ++i) {
    out << std::setw(kColumnWidth) << loops_[0] + "/" + loops_[i];
  }
  out << '\n' << std::fixed;
  for (Row& row : rows_) {
    row.rates.resize(loops_.size());
    out << std::left << std::setw(kFileWidth) << row.file << std::right
        << std::setprecision(0);
    for (const double rate : row.rates) {
      out << std::setw(kColumnWidth) << rate / kBytesPerMegabyte;
    }
    out << std::setprecision(2);
    for (std::size_t i = 1; i < loops_.size(); ++i) {
      out << std::setw(kColumnWidth)
          << (row.rates[i] > 0 ? row.rates[0] / row.rates[i] : 0.0);
    }
    out << '\n';
  }
}

}  // namespace svcentry::bench
