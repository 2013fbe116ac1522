// Runs the real svcentry.exe on the services file of the Wine prefix the
// tests run in, and asks the system's own service lookup afterwards.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "tests/windows/child_process.h"

#if !defined(SVCENTRY_PROGRAM) || !defined(SVCENTRY_SERVICE_LOOKUP)
#error "SVCENTRY_PROGRAM and SVCENTRY_SERVICE_LOOKUP must name the programs"
#endif

namespace svcentry {
namespace {

namespace fs = std::filesystem;

// GetSystemDirectoryA answers C:\windows\system32 in a Wine prefix.
const std::string kServicesPath =
    "C:\\windows\\system32\\Drivers\\etc\\services";
const std::string kEntryLine = "gds_db           3050/tcp\r\n";
// The standard output is in text mode: the line feed arrives as CR LF.
const std::string kAdded =
    "String 'gds_db           3050/tcp' was successfully added to file " +
    kServicesPath + "\r\n";
const std::string kExists = "String 'gds_db           3050/tcp' in file " +
                            kServicesPath + " already exists\r\n";

std::string CantOpen(const std::string& purpose, int code) {
  return "Can't open file " + kServicesPath + " for " + purpose +
         ". Error \xB9" + std::to_string(code);
}

// What stands at the services path.
struct Services {
  enum class Kind { kFile, kMissing, kDirectory };
  Kind kind = Kind::kMissing;
  std::string bytes;

  bool operator==(const Services&) const = default;
};

Services File(std::string bytes) {
  return {Services::Kind::kFile, std::move(bytes)};
}
const Services kMissing{Services::Kind::kMissing, ""};
const Services kDirectory{Services::Kind::kDirectory, ""};

void PrintTo(const Services& services, std::ostream* out) {
  switch (services.kind) {
    case Services::Kind::kFile:
      *out << "file " << ::testing::PrintToString(services.bytes);
      break;
    case Services::Kind::kMissing:
      *out << "no file";
      break;
    case Services::Kind::kDirectory:
      *out << "a directory";
      break;
  }
}

Services Observe() {
  if (fs::is_directory(kServicesPath)) {
    return kDirectory;
  }
  std::ifstream in(kServicesPath, std::ios::binary);
  if (!in) {
    return kMissing;
  }
  return File(
      {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()});
}

void Establish(const Services& services) {
  fs::remove_all(kServicesPath);
  if (services.kind == Services::Kind::kFile) {
    std::ofstream(kServicesPath, std::ios::binary) << services.bytes;
  } else if (services.kind == Services::Kind::kDirectory) {
    fs::create_directory(kServicesPath);
  }
}

// Another program that has the services file open while the tool runs: one
// that lets others only read it, or a writer that lets others do anything.
enum class Holder { kNone, kReadersOnly, kSharingWriter };

ProgramRun RunTool(Holder holder, const std::string& arguments) {
  HANDLE held = INVALID_HANDLE_VALUE;
  if (holder != Holder::kNone) {
    const bool writer = holder == Holder::kSharingWriter;
    held = CreateFileA(
        kServicesPath.c_str(),
        writer ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ,
        writer ? FILE_SHARE_READ | FILE_SHARE_WRITE : FILE_SHARE_READ, nullptr,
        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(held, INVALID_HANDLE_VALUE) << "error " << GetLastError();
  }
  ProgramRun run = RunProgram(SVCENTRY_PROGRAM, arguments);
  if (held != INVALID_HANDLE_VALUE) {
    CloseHandle(held);
  }
  return run;
}

bool RunsUnderWine() {
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr &&
         GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// What the services file was before a suite of tests rewrote it.
Services original_services;

// Every test rewrites the system's services file, so it runs only in a Wine
// prefix, and the file is put back as it was afterwards.
class ServicesFileTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (RunsUnderWine()) {
      original_services = Observe();
    }
  }
  static void TearDownTestSuite() {
    if (RunsUnderWine()) {
      Establish(original_services);
    }
  }
  void SetUp() override {
    ASSERT_TRUE(RunsUnderWine())
        << "These tests rewrite the system's services file; they run only "
           "under Wine, in a prefix of their own.";
  }
};

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

const std::string kEcho = "echo             7/tcp\r\n";
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
    {"FileMissing", kMissing, Holder::kNone, "", 1, CantOpen("reading", 2),
     kMissing},
    // Opening a directory as a file is refused with "access denied".
    {"DirectoryInstead", kDirectory, Holder::kNone, "", 1,
     CantOpen("reading", 5), kDirectory},
    {"HeldForReadersWithEntry", File(kEcho + kEntryLine), Holder::kReadersOnly,
     "", 0, kExists, File(kEcho + kEntryLine)},
    {"HeldForReadersWithoutEntry", File(kEcho), Holder::kReadersOnly, "", 1,
     CantOpen("writing", 32), File(kEcho)},
    {"HeldBySharingWriter", File(kEcho), Holder::kSharingWriter, "", 0, kAdded,
     File(kEcho + kEntryLine)},
    {"ArgumentsWhenAdding", File(kEcho), Holder::kNone, kAnyArguments, 0,
     kAdded, File(kEcho + kEntryLine)},
    {"ArgumentsWhenFileMissing", kMissing, Holder::kNone, kAnyArguments, 1,
     CantOpen("reading", 2), kMissing},
};

class EndToEnd : public ServicesFileTest,
                 public ::testing::WithParamInterface<Case> {};

TEST_P(EndToEnd, OutputExitCodeAndFile) {
  const Case& test_case = GetParam();
  Establish(test_case.before);
  const ProgramRun run = RunTool(test_case.holder, test_case.arguments);
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
  EXPECT_EQ(RunProgram(SVCENTRY_SERVICE_LOOKUP).standard_output, "none\r\n");
  ASSERT_EQ(RunProgram(SVCENTRY_PROGRAM).exit_code, 0U);
  EXPECT_EQ(RunProgram(SVCENTRY_SERVICE_LOOKUP).standard_output, "3050\r\n");
}

}  // namespace
}  // namespace svcentry
