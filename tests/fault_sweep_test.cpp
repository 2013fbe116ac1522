// Fails every platform call of a run, one at a time, and checks that each
// fault ends in a true report and a services file that lost nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iostream>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "registration/registration_run.h"
#include "tests/fake_platform.h"

namespace svcentry {
namespace {

constexpr const char* kPath = FakePlatform::kServicesPath;
const std::string kEntryLine = std::string(kServicesEntry) + "\r\n";

// A realistic Windows code for each call that can fail.
const std::map<std::string_view, std::uint32_t> kErrorFor = {
    {"GetSystemDirectoryA", 8},
    {"CreateFileA", kErrorSharingViolation},
    {"ReadFile", 23},
    {"WriteFile", kErrorDiskFull},
    {"SetFilePointerEx", 87},
    {"SetEndOfFile", kErrorAccessDenied},
    {"FlushFileBuffers", 1117},
    {"CloseHandle", 6},
    {"WriteStandardOutput", 232},
};

struct Scenario {
  const char* name;
  std::string file;
};

std::vector<Scenario> Scenarios() {
  std::string several_blocks;
  for (int line = 0; several_blocks.size() < 3 * TextStream::kBlockSize;
       ++line) {
    several_blocks += "service" + std::to_string(line) + "  " +
                      std::to_string(line % 65536) + "/tcp  # filler\r\n";
  }
  return {
      {"entry present", "a 1/tcp\r\n" + kEntryLine + "b 2/tcp\r\n"},
      {"entry missing", "a 1/tcp\r\nb 2/tcp\r\n"},
      {"empty file", ""},
      {"trailing Ctrl-Z", "a 1/tcp\r\n\x1a"},
      {"no final line end", "a 1/tcp"},
      {"lines over 999", std::string(2500, 'x') + "\r\n" +
                             std::string(1200, 'y') + kEntryLine.substr(3)},
      {"several blocks, entry missing", several_blocks},
      {"several blocks, entry last", several_blocks + kEntryLine},
  };
}

struct Outcome {
  int exit_code = -1;
  std::string output;
  std::string file;
};

Outcome RunWith(const Scenario& scenario, const FakePlatform::Fault& fault,
                FakePlatform* platform) {
  platform->files[kPath] = scenario.file;
  platform->fault = fault;
  testing::internal::CaptureStderr();
  Outcome outcome;
  outcome.exit_code = RunRegistration(*platform);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  outcome.output = platform->standard_output;
  outcome.file = platform->files[kPath];
  EXPECT_EQ(std::count(platform->calls.begin(), platform->calls.end(),
                       "WriteStandardOutput"),
            1);
  EXPECT_EQ(platform->open_at_output, 0U) << "a file was open at the message";
  EXPECT_EQ(platform->OpenHandles(), 0U);
  return outcome;
}

std::set<std::string> FailureMessages(std::uint32_t code) {
  const std::string path = kPath;
  const std::string error = " Error \xB9" + std::to_string(code);
  return {"GetSystemDirectory failed." + error,
          "Can't open file " + path + " for reading." + error,
          "Can't read file " + path + "." + error,
          "Can't open file " + path + " for writing." + error,
          "Can't append file " + path + "." + error};
}

// The faults to plant at one call: a refusal with its code, and for reads
// and writes a short transfer and a refusal after a part.
std::vector<FakePlatform::Fault> FaultsAt(std::size_t call,
                                          std::string_view name) {
  const std::uint32_t error = kErrorFor.at(name);
  std::vector<FakePlatform::Fault> faults = {{.call = call, .error = error}};
  if (name == "ReadFile" || name == "WriteFile") {
    faults.push_back({.call = call, .transferred = 1, .short_success = true});
    faults.push_back({.call = call, .error = error, .transferred = 10});
  }
  return faults;
}

TEST(FaultSweep, EveryCallFailingLeavesATrueReportAndAWholeFile) {
  std::size_t injected = 0;
  for (const Scenario& scenario : Scenarios()) {
    FakePlatform clean;
    const Outcome expected = RunWith(scenario, {}, &clean);
    ASSERT_EQ(expected.exit_code, 0) << scenario.name;
    std::string trimmed = scenario.file;
    if (!trimmed.empty() && trimmed.back() == '\x1a') {
      trimmed.pop_back();
    }
    const std::set<std::string> whole_files = {scenario.file, trimmed,
                                               expected.file};

    for (std::size_t call = 1; call <= clean.calls.size(); ++call) {
      const std::string_view name = clean.calls[call - 1];
      if (name == "GetLastError" || name == "SetLastError") {
        continue;  // they keep a code, they cannot fail
      }
      for (const FakePlatform::Fault& fault : FaultsAt(call, name)) {
        SCOPED_TRACE(std::string(scenario.name) + ": call " +
                     std::to_string(call) + " " + std::string(name) +
                     " error " + std::to_string(fault.error) + " transferred " +
                     std::to_string(fault.transferred));
        FakePlatform platform;
        const Outcome outcome = RunWith(scenario, fault, &platform);
        ++injected;
        ASSERT_TRUE(platform.FaultHit());
        EXPECT_TRUE(whole_files.contains(outcome.file))
            << "file damaged: " << testing::PrintToString(outcome.file);
        if (fault.short_success || name == "WriteStandardOutput") {
          // Nothing failed that the run depends on: the same end as without.
          EXPECT_EQ(outcome.exit_code, expected.exit_code);
          EXPECT_EQ(outcome.file, expected.file);
        } else if (outcome.exit_code == 0) {
          EXPECT_EQ(outcome.output, expected.output);
          EXPECT_EQ(outcome.file, expected.file);
        } else {
          EXPECT_EQ(outcome.exit_code, 1);
          EXPECT_TRUE(FailureMessages(fault.error).contains(outcome.output))
              << "unexpected message: " << outcome.output;
        }
      }
    }
  }
  std::cout << "Fault sweep: " << injected
            << " faults injected, none skipped\n";
  RecordProperty("faults_injected", static_cast<int>(injected));
}

}  // namespace
}  // namespace svcentry
