// Runs the built program against its own sandbox system directory.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#ifndef SVCENTRY_E2E_PROGRAM
#error "SVCENTRY_E2E_PROGRAM must name the program under test"
#endif

namespace {

namespace fs = std::filesystem;

const fs::path kSystemDirectory = SVCENTRY_E2E_SYSTEM_DIRECTORY;
const fs::path kServices = kSystemDirectory / "Drivers" / "etc" / "services";
const std::string kPrintedPath =
    std::string(SVCENTRY_E2E_SYSTEM_DIRECTORY) + "\\Drivers\\etc\\services";
const std::string kEntryLine = "gds_db           3050/tcp\r\n";

struct Outcome {
  int exit_code = -1;
  std::string standard_output;
  std::string standard_error;
};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

Outcome RunProgram(const std::string& arguments = "") {
  const fs::path out = kSystemDirectory.parent_path() / "stdout";
  const fs::path err = kSystemDirectory.parent_path() / "stderr";
  const std::string command = std::string("'") + SVCENTRY_E2E_PROGRAM + "' " +
                              arguments + " >'" + out.string() + "' 2>'" +
                              err.string() + "' </dev/null";
  // The shell redirects the program's standard streams into files.
  const int status = std::system(command.c_str());  // NOLINT(cert-env33-c)
  Outcome outcome;
  outcome.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  outcome.standard_output = ReadFile(out);
  outcome.standard_error = ReadFile(err);
  return outcome;
}

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override { fs::remove_all(kSystemDirectory / "Drivers"); }
};

TEST_F(EndToEnd, AddsTheEntryThenFindsIt) {
  WriteFile(kServices, "echo 7/tcp\r\n");
  const Outcome first = RunProgram();
  EXPECT_EQ(first.exit_code, 0);
  EXPECT_EQ(
      first.standard_output,
      "String 'gds_db           3050/tcp' was successfully added to file " +
          kPrintedPath + "\n");
  EXPECT_EQ(first.standard_error, "");
  EXPECT_EQ(ReadFile(kServices), "echo 7/tcp\r\n" + kEntryLine);

  const Outcome second = RunProgram("--add 'gds_db 1/udp' /?");
  EXPECT_EQ(second.exit_code, 0);
  EXPECT_EQ(second.standard_output,
            "String 'gds_db           3050/tcp' in file " + kPrintedPath +
                " already exists\n");
  EXPECT_EQ(second.standard_error, "");
  EXPECT_EQ(ReadFile(kServices), "echo 7/tcp\r\n" + kEntryLine);
}

TEST_F(EndToEnd, MissingFileIsReportedNotCreated) {
  fs::create_directories(kServices.parent_path());
  const Outcome outcome = RunProgram();
  EXPECT_EQ(outcome.exit_code, 1);
  EXPECT_EQ(outcome.standard_output, "Can't open file " + kPrintedPath +
                                         " for reading. Error \xB9"
                                         "2");
  EXPECT_EQ(outcome.standard_error, "");
  EXPECT_FALSE(fs::exists(kServices));
}

TEST_F(EndToEnd, DirectoryInPlaceOfTheFileIsRefused) {
  fs::create_directories(kServices);
  const Outcome outcome = RunProgram();
  EXPECT_EQ(outcome.exit_code, 1);
  EXPECT_EQ(outcome.standard_output, "Can't open file " + kPrintedPath +
                                         " for reading. Error \xB9"
                                         "21");
  EXPECT_TRUE(fs::is_directory(kServices));
}

}  // namespace
