// svcentry_selftest.exe, the self-test kit's runner. On a Windows machine,
// where the Windows tests may not rewrite the services file on their own,
// it saves the file, runs svcentry_windows_tests.exe beside itself, removes
// what the installers may have left installed, puts the file back, and
// writes selftest-report.txt beside itself. With /sandbox it starts
// Windows Sandbox on its own folder instead, where selftest.cmd runs it.
#include <windows.h>
// After windows.h, which they need.
#include <objbase.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/windows/installed_products.h"
#include "tests/windows/saved_file.h"
#include "tests/windows/selftest_text.h"

#if !defined(SVCENTRY_VERSION) || !defined(SVCENTRY_PRODUCT)
#error "The kit's version and the product's name must be given"
#endif

namespace svcentry {
namespace {

constexpr int kExitPassed = 0;
constexpr int kExitFailed = 1;
constexpr int kExitNotElevated = 2;
constexpr int kExitNotConfirmed = 3;
constexpr DWORD kMinute = 60'000;
constexpr DWORD kTestsLimit = 30 * kMinute;
constexpr DWORD kUninstallLimit = 5 * kMinute;
constexpr char kCurrentVersion[] =
    "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";

std::string ErrorText(DWORD error) {
  return "(error " + std::to_string(error) + ")";
}

// Exit codes past 0xFFFF are NTSTATUS values, C0000005 and the like.
std::string ExitCodeText(DWORD code) {
  char text[16];
  static_cast<void>(std::snprintf(text, sizeof text,
                                  code > 0xFFFF ? "0x%08lX" : "%lu",
                                  static_cast<unsigned long>(code)));
  return text;
}

// The kit's folder, the runner's own, without its last backslash.
std::string KitDirectory() {
  char path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  const std::string program(path, length);
  return program.substr(0, program.rfind('\\'));
}

std::string ServicesPath() {
  char directory[MAX_PATH] = {};
  const UINT length = GetSystemDirectoryA(directory, MAX_PATH);
  return std::string(directory, length) + "\\Drivers\\etc\\services";
}

BOOL WINAPI IgnoreInterrupt(DWORD event) {
  return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? TRUE : FALSE;
}

bool IsOption(const std::string& argument, const char* option) {
  return lstrcmpiA(argument.c_str(), option) == 0;
}

int StartSandbox(const std::string& kit) {
  const std::string configuration = kit + "\\selftest.wsb";
  const DWORD error = WriteWholeFile(configuration, SandboxConfiguration(kit));
  if (error != 0) {
    std::printf("Cannot write %s %s\n", configuration.c_str(),
                ErrorText(error).c_str());
    return kExitFailed;
  }
  // ShellExecute may hand the file to a Shell extension, which needs COM.
  const HRESULT com = CoInitializeEx(
      nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  const auto started = reinterpret_cast<INT_PTR>(
      ShellExecuteA(nullptr, "open", configuration.c_str(), nullptr,
                    kit.c_str(), SW_SHOWNORMAL));
  if (SUCCEEDED(com)) {
    CoUninitialize();
  }
  if (started <= 32) {
    std::printf(
        "Cannot start Windows Sandbox with %s (ShellExecute gave %d): is "
        "Windows Sandbox turned on in Windows Features?\n",
        configuration.c_str(), static_cast<int>(started));
    return kExitFailed;
  }
  std::printf(
      "Windows Sandbox starts with %s; the self-test runs there and writes "
      "selftest-report.txt into %s.\n",
      configuration.c_str(), kit.c_str());
  return kExitPassed;
}

bool IsElevated() {
  HANDLE token = nullptr;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) == FALSE) {
    return false;
  }
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  const bool read = GetTokenInformation(token, TokenElevation, &elevation,
                                        sizeof elevation, &size) != FALSE;
  CloseHandle(token);
  return read && elevation.TokenIsElevated != 0;
}

// Windows Sandbox logs its user on as WDAGUtilityAccount.
bool InWindowsSandbox() {
  char name[257] = {};
  DWORD size = sizeof name;
  return GetUserNameA(name, &size) != FALSE &&
         lstrcmpiA(name, "WDAGUtilityAccount") == 0;
}

bool UserTypedYes() {
  std::printf(
      "The self-test changes this system's services file (%s), and installs "
      "and removes the example products, for a few minutes; it puts back "
      "what it changed when it ends.\nType yes to go on: ",
      ServicesPath().c_str());
  static_cast<void>(std::fflush(stdout));
  char answer[16] = {};
  if (std::fgets(answer, sizeof answer, stdin) == nullptr) {
    return false;
  }
  std::string typed(answer);
  typed = typed.substr(0, typed.find_first_of("\r\n"));
  return typed == "yes";
}

std::string RegistryText(const char* name) {
  char value[256] = {};
  DWORD size = sizeof value;
  return RegGetValueA(HKEY_LOCAL_MACHINE, kCurrentVersion, name, RRF_RT_REG_SZ,
                      nullptr, value, &size) == ERROR_SUCCESS
             ? std::string(value)
             : "(none)";
}

std::string RegistryNumber(const char* name) {
  DWORD value = 0;
  DWORD size = sizeof value;
  return RegGetValueA(HKEY_LOCAL_MACHINE, kCurrentVersion, name,
                      RRF_RT_REG_DWORD, nullptr, &value, &size) == ERROR_SUCCESS
             ? std::to_string(value)
             : "(none)";
}

// Wine's ntdll says which Wine it is; Windows' has no such function.
std::string WineVersion() {
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  const FARPROC found =
      ntdll != nullptr ? GetProcAddress(ntdll, "wine_get_version") : nullptr;
  if (found == nullptr) {
    return "";
  }
  using GetVersion = const char* (*)();
  return reinterpret_cast<GetVersion>(reinterpret_cast<void (*)()>(found))();
}

std::vector<std::string> Header(const std::string& kit) {
  std::vector<std::string> lines = {
      "svcentry self-test, kit " + kit.substr(kit.rfind('\\') + 1) +
          ", test programs of version " SVCENTRY_VERSION,
      "Windows: ProductName " + RegistryText("ProductName") + ", EditionID " +
          RegistryText("EditionID") + ", DisplayVersion " +
          RegistryText("DisplayVersion") + ", CurrentBuild " +
          RegistryText("CurrentBuild") + ", UBR " + RegistryNumber("UBR")};
  const std::string wine = WineVersion();
  if (!wine.empty()) {
    lines.push_back("Wine: " + wine);
  }
  SYSTEMTIME now{};
  GetSystemTime(&now);
  char time[64];
  static_cast<void>(std::snprintf(
      time, sizeof time, "Time: %04u-%02u-%02u %02u:%02u:%02u UTC", now.wYear,
      now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond));
  lines.emplace_back(time);
  return lines;
}

// A job whose processes end when its last handle closes, or nullptr.
HANDLE KillOnCloseJob() {
  const HANDLE job = CreateJobObjectA(nullptr, nullptr);
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (job != nullptr &&
      SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits,
                              sizeof limits) == FALSE) {
    CloseHandle(job);
    return nullptr;
  }
  return job;
}

// Starts `program` with `arguments` on this console, suspended: 0, or the
// error.
DWORD StartSuspended(const std::string& program, const std::string& arguments,
                     PROCESS_INFORMATION* process) {
  std::string command_line = "\"" + program + "\" " + arguments;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  return CreateProcessA(program.c_str(), command_line.data(), nullptr, nullptr,
                        TRUE, CREATE_SUSPENDED, nullptr, nullptr, &startup,
                        process) != FALSE
             ? 0
             : GetLastError();
}

// Runs `program` with `arguments` on this console, and waits `limit`
// milliseconds at most: 0, or the error (ERROR_TIMEOUT when it did not end
// in time and was stopped). With `in_job`, what it starts (installers,
// msiexec) is stopped with it, and ends when the runner does; an
// uninstaller that leaves a copy of itself to finish runs without.
DWORD Run(const std::string& program, const std::string& arguments, DWORD limit,
          bool in_job, DWORD* exit_code) {
  PROCESS_INFORMATION process{};
  DWORD error = StartSuspended(program, arguments, &process);
  if (error != 0) {
    return error;
  }
  const HANDLE job = in_job ? KillOnCloseJob() : nullptr;
  if (job != nullptr) {
    AssignProcessToJobObject(job, process.hProcess);
  }
  ResumeThread(process.hThread);
  if (WaitForSingleObject(process.hProcess, limit) != WAIT_OBJECT_0) {
    if (job == nullptr || TerminateJobObject(job, 1) == FALSE) {
      TerminateProcess(process.hProcess, 1);
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    error = ERROR_TIMEOUT;
  }
  if (GetExitCodeProcess(process.hProcess, exit_code) == FALSE && error == 0) {
    error = GetLastError();
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  if (job != nullptr) {
    CloseHandle(job);
  }
  return error;
}

// Clears GoogleTest's variables (GTEST_FILTER, GTEST_REPEAT, the shards'),
// with which the tests would run only in part, or again, and still pass.
void ClearTestVariables() {
  char* block = GetEnvironmentStringsA();
  if (block == nullptr) {
    return;
  }
  std::vector<std::string> names;
  for (const char* entry = block; *entry != '\0';
       entry += std::char_traits<char>::length(entry) + 1) {
    const std::string variable(entry);
    if (_strnicmp(variable.c_str(), "GTEST_", 6) == 0) {
      names.push_back(variable.substr(0, variable.find('=')));
    }
  }
  FreeEnvironmentStringsA(block);
  for (const std::string& name : names) {
    SetEnvironmentVariableA(name.c_str(), nullptr);
  }
}

// The tests find that the runner saved the services file in
// SVCENTRY_SELFTEST, and only then rewrite it on a Windows machine.
bool RunTests(const std::string& kit, const std::string& results,
              std::vector<std::string>* lines) {
  const std::string program = kit + "\\svcentry_windows_tests.exe";
  ClearTestVariables();
  SetEnvironmentVariableA("SVCENTRY_SELFTEST", "1");
  DWORD exit_code = 0;
  const DWORD error = Run(program, "\"--gtest_output=xml:" + results + "\"",
                          kTestsLimit, true, &exit_code);
  SetEnvironmentVariableA("SVCENTRY_SELFTEST", nullptr);
  if (error != 0) {
    lines->push_back("Test program: " + program +
                     (error == ERROR_TIMEOUT
                          ? " did not end within 30 minutes, and was stopped"
                          : " could not be started " + ErrorText(error)));
    return false;
  }
  lines->push_back("Test program: " + program + ", exit code " +
                   ExitCodeText(exit_code));
  return exit_code == 0;
}

// The product codes of the installed products named svcentry.
std::vector<std::string> ListedProducts() {
  return InstalledProducts(SVCENTRY_PRODUCT);
}

// Runs an uninstaller; true when it ran and ended with exit code 0.
bool Uninstalled(const std::string& what, const std::string& program,
                 const std::string& arguments,
                 std::vector<std::string>* lines) {
  DWORD exit_code = 0;
  const DWORD error =
      Run(program, arguments, kUninstallLimit, false, &exit_code);
  if (error != 0 || exit_code != 0) {
    lines->push_back("Not uninstalled: " + what + " " +
                     (error != 0
                          ? ErrorText(error)
                          : "(exit code " + ExitCodeText(exit_code) + ")"));
    return false;
  }
  lines->push_back("Uninstalled: " + what);
  return true;
}

// Where the Inno Setup example installs: %ProgramFiles%\Example.
std::string InnoExampleDirectory() {
  char directory[MAX_PATH] = {};
  ExpandEnvironmentStringsA("%ProgramFiles%\\Example", directory, MAX_PATH);
  return directory;
}

// What stood installed before the tests ran, which the runner leaves.
struct Installed {
  std::vector<std::string> products;
  bool inno_example = false;
};

// The Inno Setup example's uninstaller ends while a copy of itself still
// removes the files and the directory, so their going is waited for.
bool UninstallInnoExample(std::vector<std::string>* lines) {
  const std::string directory = InnoExampleDirectory();
  const std::string uninstaller = directory + "\\unins000.exe";
  if (GetFileAttributesA(uninstaller.c_str()) == INVALID_FILE_ATTRIBUTES) {
    return true;
  }
  if (!Uninstalled("the Inno Setup example", uninstaller,
                   "/VERYSILENT /SUPPRESSMSGBOXES", lines)) {
    return false;
  }
  constexpr int kPolls = 300;
  for (int poll = 0; poll < kPolls && GetFileAttributesA(directory.c_str()) !=
                                          INVALID_FILE_ATTRIBUTES;
       ++poll) {
    Sleep(100);
  }
  if (GetFileAttributesA(directory.c_str()) != INVALID_FILE_ATTRIBUTES) {
    lines->push_back("Not uninstalled: " + directory + " is still there");
    return false;
  }
  return true;
}

Installed WhatIsInstalled() {
  return {ListedProducts(),
          GetFileAttributesA(InnoExampleDirectory().c_str()) !=
              INVALID_FILE_ATTRIBUTES};
}

// Uninstalls what the tests installed and left, not what was there before.
bool UninstallExamples(const Installed& before,
                       std::vector<std::string>* lines) {
  const std::size_t count = lines->size();
  char system[MAX_PATH] = {};
  GetSystemDirectoryA(system, MAX_PATH);
  const std::string msiexec = std::string(system) + "\\msiexec.exe";
  bool all = true;
  for (const std::string& code : ListedProducts()) {
    if (std::ranges::find(before.products, code) == before.products.end()) {
      all = Uninstalled("the Windows Installer product " + code, msiexec,
                        "/x " + code + " /qn", lines) &&
            all;
    }
  }
  if (!before.inno_example) {
    all = UninstallInnoExample(lines) && all;
  }
  if (lines->size() == count) {
    lines->emplace_back("Uninstalled: nothing, as the tests left nothing");
  }
  return all;
}

// The rows of the results; when there are none to read, the tests'
// outcome is unknown, and one failed row says why.
std::vector<TestRow> ResultRows(const std::string& results) {
  std::string xml;
  const DWORD error = ReadWholeFile(results, &xml);
  std::vector<TestRow> rows;
  if (error == 0 && ReadTestResults(xml, &rows) && !rows.empty()) {
    return rows;
  }
  TestRow unknown;
  unknown.name = "svcentry_windows_tests.exe";
  unknown.outcome = TestRow::Outcome::kFailed;
  unknown.notes.push_back(
      error != 0 ? "no results in " + results + " " + ErrorText(error)
                 : "no test case in " + results +
                       ", or not all of a GoogleTest XML report");
  return {unknown};
}

bool AllPassed(const std::vector<TestRow>& rows) {
  return std::ranges::all_of(rows, [](const TestRow& row) {
    return row.outcome == TestRow::Outcome::kPassed;
  });
}

// Saves the services file, runs the tests, and puts back all they changed,
// each step even where one before it failed. True when all was put back;
// `*tests_ended` says whether the tests' program ended with exit code 0.
bool RunAndPutBack(const std::string& kit, const std::string& results,
                   std::vector<std::string>* lines, bool* tests_ended) {
  const std::string services = ServicesPath();
  lines->push_back("Services file: " + services);
  SavedFile saved;
  if (!SaveFile(services, &saved, lines)) {
    lines->emplace_back("The tests did not run, as the file was not saved.");
    ReleaseSavedFile(&saved);
    *tests_ended = false;
    return true;
  }
  const Installed before = WhatIsInstalled();
  for (const std::string& code : before.products) {
    lines->push_back("Installed before, and left so: the product " + code);
  }
  if (before.inno_example) {
    lines->push_back("Installed before, and left so: " +
                     InnoExampleDirectory());
  }
  *tests_ended = RunTests(kit, results, lines);
  const bool uninstalled = UninstallExamples(before, lines);
  const bool restored = RestoreFile(services, saved, lines);
  ReleaseSavedFile(&saved);
  return uninstalled && restored;
}

// Whether `path` is gone, deleted now or not there.
bool Gone(const std::string& path) {
  return DeleteFileA(path.c_str()) != FALSE ||
         GetLastError() == ERROR_FILE_NOT_FOUND;
}

// A failed row for what the results cannot show: the test program ending
// with a failure outside any test, or the runner not putting all back.
TestRow FailedStep(const std::string& name, const std::string& note) {
  TestRow row;
  row.name = name;
  row.outcome = TestRow::Outcome::kFailed;
  row.notes.push_back(note);
  return row;
}

int RunSelfTest(const std::string& kit) {
  const std::string results = kit + "\\selftest-results.xml";
  const std::string report = kit + "\\selftest-report.txt";
  // An earlier run's report and results must not pass for this one's.
  if (!Gone(results) || !Gone(report)) {
    std::printf("Cannot remove the last run's %s and %s %s\n", report.c_str(),
                results.c_str(), ErrorText(GetLastError()).c_str());
    return kExitFailed;
  }
  std::vector<std::string> lines = Header(kit);
  bool tests_ended = false;
  const bool put_back = RunAndPutBack(kit, results, &lines, &tests_ended);
  std::vector<TestRow> rows = ResultRows(results);
  if (!tests_ended && AllPassed(rows)) {
    rows.push_back(FailedStep("svcentry_windows_tests.exe",
                              "it failed outside the tests: see its exit "
                              "code above"));
  }
  if (!put_back) {
    rows.push_back(FailedStep("putting back",
                              "not all was put back: see the lines above"));
  }
  for (const std::string& line : RowLines(rows)) {
    lines.push_back(line);
  }
  std::string text;
  for (const std::string& line : lines) {
    text += line + "\r\n";
  }
  const DWORD error = WriteWholeFile(report, text);
  const std::string where = error == 0 ? "the report is " + report
                                       : "no report could be written to " +
                                             report + " " + ErrorText(error);
  std::printf("Self-test: %s%s; %s\n", lines.back().c_str(),
              put_back ? "" : ", and not all was put back", where.c_str());
  return AllPassed(rows) && error == 0 ? kExitPassed : kExitFailed;
}

}  // namespace
}  // namespace svcentry

int main(int argc, char** argv) {
  using namespace svcentry;
  const std::string option = argc > 1 ? argv[1] : "";
  if (argc > 2 ||
      (argc == 2 && !IsOption(option, "/sandbox") && !IsOption(option, "/y"))) {
    std::printf("Usage: svcentry_selftest [/y | /sandbox]\n");
    return kExitFailed;
  }
  if (IsOption(option, "/sandbox")) {
    return StartSandbox(KitDirectory());
  }
  if (!IsElevated()) {
    std::printf(
        "svcentry_selftest must run from an elevated prompt: open the "
        "command prompt with Run as administrator.\n");
    return kExitNotElevated;
  }
  if (!InWindowsSandbox() && !IsOption(option, "/y") && !UserTypedYes()) {
    std::printf(
        "Nothing was changed: the self-test goes on only when yes is "
        "typed.\n");
    return kExitNotConfirmed;
  }
  // Ctrl+C stops the tests, which share this console, but not the runner,
  // which then puts back what they changed.
  SetConsoleCtrlHandler(IgnoreInterrupt, TRUE);
  return RunSelfTest(KitDirectory());
}
