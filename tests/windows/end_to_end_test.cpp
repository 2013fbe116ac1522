// Runs the real svcentry.exe on the services file of the system the tests
// run on, and asks the system's own service lookup afterwards.
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "tests/windows/child_process.h"
#include "tests/windows/services_file.h"
#include "tests/windows/test_files.h"

namespace svcentry {
namespace {

// The standard output is in text mode: the line feed arrives as CR LF.
const std::string kAdded = kAddedMessage + "\r\n";
const std::string kExists = kExistsMessage + "\r\n";

ProgramRun RunTool(Holder holder, const std::string& arguments) {
  return RunHolding(holder, kProgram, arguments);
}

struct Case {
  const char* name;
  Services before;
  Holder holder;
  std::string arguments;
  std::uint32_t exit_code;
  std::string output;
  Services after;
};

void PrintTo(const Case& test_case, std::ostream* out) {
  *out << test_case.name;
}

const std::string kAnyArguments =
    "/? --help -v \"\" \"gds_db 1/udp\" "
    "C:\\windows\\system32\\Drivers\\etc\\hosts";

const std::vector<Case> kCases = {
    {"EntryMissing", File(kEcho), Holder::kNone, "", 0, kAdded,
     File(kEcho + kEntryLine)},
    {"EntryWithComment", File(kEcho + "gds_db           3050/tcp  # db\r\n"),
     Holder::kNone, "", 0, kExists,
     File(kEcho + "gds_db           3050/tcp  # db\r\n")},
    {"EntryOnAnOpenLastLine", File(kEcho + "gds_db           3050/tcp"),
     Holder::kNone, "", 0, kExists, File(kEcho + "gds_db           3050/tcp")},
    {"OtherSpacing", File("gds_db 3050/tcp\r\n"), Holder::kNone, "", 0, kAdded,
     File("gds_db 3050/tcp\r\n" + kEntryLine)},
    {"OtherLetterCase", File("GDS_DB           3050/TCP\r\n"), Holder::kNone,
     "", 0, kAdded, File("GDS_DB           3050/TCP\r\n" + kEntryLine)},
    {"TrailingCtrlZ", File(kEcho + "\x1a"), Holder::kNone, "", 0, kAdded,
     File(kEcho + kEntryLine)},
    {"OpenLastLine", File("echo 7/tcp"), Holder::kNone, "", 0, kAdded,
     File("echo 7/tcp\r\n" + kEntryLine)},
    {"OpenLastLineThenCtrlZ", File("echo 7/tcp\x1a"), Holder::kNone, "", 0,
     kAdded, File("echo 7/tcp\r\n" + kEntryLine)},
    {"EmptyFile", File(""), Holder::kNone, "", 0, kAdded, File(kEntryLine)},
    {"FileMissing", kMissing, Holder::kNone, "", 1,
     CantOpenMessage("reading", 2), kMissing},
    // Opening a directory as a file is refused with "access denied".
    {"DirectoryInstead", kDirectory, Holder::kNone, "", 1,
     CantOpenMessage("reading", 5), kDirectory},
    {"HeldForReadersWithEntry", File(kEcho + kEntryLine), Holder::kReadersOnly,
     "", 0, kExists, File(kEcho + kEntryLine)},
    {"HeldForReadersWithoutEntry", File(kEcho), Holder::kReadersOnly, "", 1,
     CantOpenMessage("writing", 32), File(kEcho)},
    {"HeldBySharingWriter", File(kEcho), Holder::kSharingWriter, "", 0, kAdded,
     File(kEcho + kEntryLine)},
    {"ArgumentsWhenAdding", File(kEcho), Holder::kNone, kAnyArguments, 0,
     kAdded, File(kEcho + kEntryLine)},
    {"ArgumentsWhenFileMissing", kMissing, Holder::kNone, kAnyArguments, 1,
     CantOpenMessage("reading", 2), kMissing},
};

class EndToEnd : public ServicesFileTest,
                 public ::testing::WithParamInterface<Case> {};

TEST_P(EndToEnd, OutputExitCodeAndFile) {
  const Case& test_case = GetParam();
  Establish(test_case.before);
  const ProgramRun run = RunTool(test_case.holder, test_case.arguments);
  SaySeen("svcentry.exe: " + Described(run));
  EXPECT_EQ(run.exit_code, test_case.exit_code);
  EXPECT_EQ(run.standard_output, test_case.output);
  EXPECT_EQ(run.standard_error, "");
  EXPECT_EQ(Observe(), test_case.after);
  if (test_case.exit_code != 0) {
    return;
  }
  // Once a run succeeded, the next one finds the entry and changes nothing.
  const ProgramRun again = RunTool(test_case.holder, "");
  EXPECT_EQ(again.exit_code, 0U);
  EXPECT_EQ(again.standard_output, kExists);
  EXPECT_EQ(Observe(), test_case.after);
}

std::string CaseName(const ::testing::TestParamInfo<Case>& param_info) {
  return param_info.param.name;
}

INSTANTIATE_TEST_SUITE_P(ServicesFile, EndToEnd, ::testing::ValuesIn(kCases),
                         CaseName);

using NameResolution = ServicesFileTest;

// The host's own services file may well name gds_db; what the lookup reads
// is the prefix's.
TEST_F(NameResolution, TheServiceResolvesOnceTheToolAddedIt) {
  Establish(File(kEcho));
  EXPECT_EQ(RunProgram(kServiceLookup).standard_output, "none\r\n");
  ASSERT_EQ(RunProgram(kProgram).exit_code, 0U);
  EXPECT_EQ(RunProgram(kServiceLookup).standard_output, "3050\r\n");
}

}  // namespace
}  // namespace svcentry
