// Where the Windows tests find what they run, so that one test program is
// right under Wine and on Windows: the system's programs in the directory
// the system names, and the tests' own files beside the test program, as
// the self-test kit holds them, or else where the build tree has them.
#pragma once

#include <string>

#if !defined(SVCENTRY_PROGRAM) || !defined(SVCENTRY_MSI_ACTION) ||        \
    !defined(SVCENTRY_SERVICE_LOOKUP) || !defined(SVCENTRY_MSI) ||        \
    !defined(SVCENTRY_MSI_RELEASED) || !defined(SVCENTRY_BATCH) ||        \
    !defined(SVCENTRY_MSI_LAST_RELEASE) ||                                \
    !defined(SVCENTRY_NSIS_X86_SETUP) || !defined(SVCENTRY_INNO_SETUP) || \
    !defined(SVCENTRY_NSIS_AMD64_SETUP) ||                                \
    !defined(SVCENTRY_EXIT_CODE_PROGRAM) || !defined(SVCENTRY_VERSION)
#error "The files the tests run must be named where the build tree has them"
#endif

namespace svcentry {

/// Whether the tests run under Wine, whose ntdll says so.
bool RunsUnderWine();
/// The system directory, as GetSystemDirectoryA gives it: C:\windows\system32
/// in a Wine prefix, C:\WINDOWS\system32 on many a Windows.
std::string SystemDirectory();
/// The system's program `name` (cmd.exe, say) in that directory.
std::string SystemProgram(const std::string& name);
/// The user's temporary directory, without its last backslash.
std::string TemporaryDirectory();
/// Where 64-bit programs are installed: C:\Program Files.
std::string ProgramFilesDirectory();
/// The file at `path` below the test program's directory, when it is there
/// (`path` may end in a pattern: svcentry-1.2.1*-x64.msi); else `built`,
/// save in the self-test kit (SVCENTRY_SELFTEST), where it is missing.
std::string TestFile(const std::string& path, const std::string& built);

inline const std::string kProgram = TestFile("svcentry.exe", SVCENTRY_PROGRAM);
inline const std::string kMsiAction =
    TestFile("svcentry-msi.dll", SVCENTRY_MSI_ACTION);
inline const std::string kServiceLookup =
    TestFile("service_lookup.exe", SVCENTRY_SERVICE_LOOKUP);
inline const std::string kExitCodeProgram =
    TestFile("exit_code.exe", SVCENTRY_EXIT_CODE_PROGRAM);
inline const std::string kMsi =
    TestFile("svcentry-" SVCENTRY_VERSION "*-x64.msi", SVCENTRY_MSI);
// The MSIs of releases 1.0.0 and 1.2.1, which the upgrade replaces.
inline const std::string kMsiReleased =
    TestFile("svcentry-1.0.0-x64.msi", SVCENTRY_MSI_RELEASED);
inline const std::string kMsiLastRelease =
    TestFile("svcentry-1.2.1-x64.msi", SVCENTRY_MSI_LAST_RELEASE);
inline const std::string kNsisX86Setup =
    TestFile("examples\\nsis-x86\\example-setup.exe", SVCENTRY_NSIS_X86_SETUP);
inline const std::string kNsisAmd64Setup = TestFile(
    "examples\\nsis-amd64\\example-setup.exe", SVCENTRY_NSIS_AMD64_SETUP);
inline const std::string kInnoSetup =
    TestFile("examples\\inno\\example-setup.exe", SVCENTRY_INNO_SETUP);
inline const std::string kBatch =
    TestFile("examples\\batch\\install.cmd", SVCENTRY_BATCH);

}  // namespace svcentry
