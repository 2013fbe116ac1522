#include "tests/windows/services_file.h"

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>

namespace svcentry {

namespace fs = std::filesystem;

Services File(std::string bytes) {
  return {Services::Kind::kFile, std::move(bytes)};
}

std::string CantOpenMessage(const std::string& purpose, int code) {
  return "Can't open file " + kServicesPath + " for " + purpose +
         ". Error \xB9" + std::to_string(code);
}

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

ProgramRun RunHolding(Holder holder, const std::string& program,
                      const std::string& arguments) {
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
  ProgramRun run = RunProgram(program, arguments);
  if (held != INVALID_HANDLE_VALUE) {
    CloseHandle(held);
  }
  return run;
}

namespace {

// What the services file was before a suite of tests rewrote it.
Services original_services;

// Whether the self-test runner started these tests, which it does only on
// a machine its user said may be thrown away (/disposable); it names there
// the file for the report's rows.
bool RunsUnderSelfTest() {
  return GetEnvironmentVariableA("SVCENTRY_SELFTEST", nullptr, 0) > 0;
}

// The system's services file may be rewritten only in a Wine prefix of the
// tests' own, or on a machine that may be thrown away.
bool MayRewriteServices() { return RunsUnderWine() || RunsUnderSelfTest(); }

}  // namespace

void ServicesFileTest::SetUpTestSuite() {
  if (MayRewriteServices()) {
    original_services = Observe();
  }
}

void ServicesFileTest::TearDownTestSuite() {
  if (MayRewriteServices()) {
    Establish(original_services);
  }
}

void ServicesFileTest::SetUp() {
  ASSERT_TRUE(MayRewriteServices())
      << "These tests rewrite the system's services file; they run only "
         "under Wine, in a prefix of their own, or under "
         "svcentry_selftest.exe /disposable, on a machine to throw away.";
}

}  // namespace svcentry
