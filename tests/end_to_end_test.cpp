// Runs the built program against its own sandbox system directory.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "tests/e2e_support.h"

namespace svcentry::e2e {
namespace {

namespace fs = std::filesystem;

using EndToEnd = SandboxTest;

TEST_F(EndToEnd, AddsTheEntryThenFindsIt) {
  // An empty file has no last byte to look at when opened for appending.
  for (const std::string before : {"echo 7/tcp\r\n", ""}) {
    SCOPED_TRACE(before);
    WriteFile(kServices, before);
    const Outcome first = RunProgram();
    EXPECT_EQ(first.exit_code, 0);
    EXPECT_EQ(first.standard_output, kAddedMessage);
    EXPECT_EQ(first.standard_error, "");
    EXPECT_EQ(ReadFile(kServices), before + kEntryLine);

    const Outcome second =
        RunProgram({.arguments = {"--add", "gds_db 1/udp", "/?"}});
    EXPECT_EQ(second.exit_code, 0);
    EXPECT_EQ(second.standard_output, kExistsMessage);
    EXPECT_EQ(second.standard_error, "");
    EXPECT_EQ(ReadFile(kServices), before + kEntryLine);
  }
}

TEST_F(EndToEnd, MissingFileIsReportedNotCreated) {
  fs::create_directories(kServices.parent_path());
  const Outcome outcome = RunProgram();
  EXPECT_EQ(outcome.exit_code, 1);
  EXPECT_EQ(outcome.standard_output, OpenFailure("reading", ENOENT));
  EXPECT_EQ(outcome.standard_error, "");
  EXPECT_FALSE(fs::exists(kServices));
}

TEST_F(EndToEnd, DirectoryInPlaceOfTheFileIsRefused) {
  fs::create_directories(kServices);
  const Outcome outcome = RunProgram();
  EXPECT_EQ(outcome.exit_code, 1);
  EXPECT_EQ(outcome.standard_output, OpenFailure("reading", EISDIR));
  EXPECT_TRUE(fs::is_directory(kServices));
}

}  // namespace
}  // namespace svcentry::e2e
