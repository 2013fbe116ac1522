// svcentry_selftest.exe, the self-test kit's runner. On a Windows machine
// that its user has said may be thrown away (/disposable), it runs
// svcentry_windows_tests.exe beside itself, which rewrites the services
// file and installs the example products, and writes selftest-report.txt
// beside itself; it puts nothing back. With /sandbox it starts Windows
// Sandbox on its own folder instead, where selftest.cmd /disposable runs.
#include <windows.h>
// After windows.h, which they need.
#include <objbase.h>
#include <shellapi.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "tests/windows/installed_products.h"
#include "tests/windows/selftest_text.h"

#if !defined(SVCENTRY_VERSION) || !defined(SVCENTRY_PRODUCT)
#error "The kit's version and the product's name must be given"
#endif

namespace svcentry {
namespace {

constexpr int kExitPassed = 0;
constexpr int kExitFailed = 1;
constexpr int kExitNotElevated = 2;
constexpr int kExitNotDisposable = 3;
constexpr DWORD kTestsLimit = 30 * 60'000;
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

BOOL WINAPI IgnoreInterrupt(DWORD event) {
  return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? TRUE : FALSE;
}

bool IsOption(const std::string& argument, const char* option) {
  return lstrcmpiA(argument.c_str(), option) == 0;
}

// Writes `text` as the whole file at `path`: 0, or the error.
DWORD WriteWholeFile(const std::string& path, const std::string& text) {
  const HANDLE file =
      CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return GetLastError();
  }
  DWORD written = 0;
  const bool whole =
      WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written,
                nullptr) != FALSE &&
      written == text.size();
  const DWORD error = whole ? 0 : GetLastError();
  return CloseHandle(file) == FALSE && error == 0 ? GetLastError() : error;
}

int StartSandbox(const std::string& kit) {
  const std::string configuration = kit + "\\selftest.wsb";
  const DWORD written =
      WriteWholeFile(configuration, SandboxConfiguration(kit));
  if (written != 0) {
    std::printf("Cannot write %s %s\n", configuration.c_str(),
                ErrorText(written).c_str());
    return kExitFailed;
  }
  // ShellExecuteEx may hand the file to a Shell extension, which needs COM;
  // SEE_MASK_NOASYNC lets that end before this process does.
  const HRESULT com = CoInitializeEx(
      nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  SHELLEXECUTEINFOA execute{};
  execute.cbSize = sizeof execute;
  execute.fMask = SEE_MASK_NOASYNC;
  execute.lpVerb = "open";
  execute.lpFile = configuration.c_str();
  execute.lpDirectory = kit.c_str();
  execute.nShow = SW_SHOWNORMAL;
  const DWORD error = ShellExecuteExA(&execute) != FALSE ? 0 : GetLastError();
  if (SUCCEEDED(com)) {
    CoUninitialize();
  }
  if (error != 0) {
    std::printf(
        "Cannot start Windows Sandbox with %s %s: is Windows Sandbox turned "
        "on in Windows Features?\n",
        configuration.c_str(), ErrorText(error).c_str());
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

// Starts `program` with `arguments` on this console, suspended, in `job`:
// 0, or the error, when it was stopped before it ran.
DWORD StartInJob(const std::string& program, const std::string& arguments,
                 HANDLE job, PROCESS_INFORMATION* process) {
  std::string command_line = "\"" + program + "\" " + arguments;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  if (CreateProcessA(program.c_str(), command_line.data(), nullptr, nullptr,
                     TRUE, CREATE_SUSPENDED, nullptr, nullptr, &startup,
                     process) == FALSE) {
    return GetLastError();
  }
  if (AssignProcessToJobObject(job, process->hProcess) != FALSE) {
    return 0;
  }
  // Outside the job, what it starts would outlive the time limit.
  const DWORD error = GetLastError();
  TerminateProcess(process->hProcess, 1);
  WaitForSingleObject(process->hProcess, INFINITE);
  CloseHandle(process->hThread);
  CloseHandle(process->hProcess);
  return error;
}

// Runs `program` with `arguments` on this console, in a job, so that what it
// starts (installers, msiexec) is stopped with it and ends when the runner
// does, and waits kTestsLimit at most: 0, or the error (ERROR_TIMEOUT when
// it did not end in time and was stopped).
DWORD Run(const std::string& program, const std::string& arguments,
          DWORD* exit_code) {
  const HANDLE job = KillOnCloseJob();
  if (job == nullptr) {
    return GetLastError();
  }
  PROCESS_INFORMATION process{};
  DWORD error = StartInJob(program, arguments, job, &process);
  if (error == 0) {
    ResumeThread(process.hThread);
    if (WaitForSingleObject(process.hProcess, kTestsLimit) != WAIT_OBJECT_0) {
      TerminateJobObject(job, 1);
      WaitForSingleObject(process.hProcess, INFINITE);
      error = ERROR_TIMEOUT;
    }
    if (GetExitCodeProcess(process.hProcess, exit_code) == FALSE &&
        error == 0) {
      error = GetLastError();
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  CloseHandle(job);
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

// A failed row for what the test program's rows cannot show.
TestRow FailedStep(const std::string& note) {
  return {.name = "svcentry_windows_tests.exe",
          .outcome = TestRow::Outcome::kFailed,
          .notes = {note}};
}

void AddRow(const TestRow& row, std::vector<std::string>* lines) {
  for (const std::string& line : RowLines(row)) {
    lines->push_back(line);
  }
}

// The lines of the file at `path`; none when it is not there.
std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line);
  }
  return lines;
}

// Runs the tests, which write the report's rows into `rows` (named to them
// in SVCENTRY_SELFTEST), and adds their lines to `lines`, with a failed row
// when there are none or the program failed outside them.
void RunTests(const std::string& kit, const std::string& rows,
              std::vector<std::string>* lines) {
  const std::string program = kit + "\\svcentry_windows_tests.exe";
  ClearTestVariables();
  SetEnvironmentVariableA("SVCENTRY_SELFTEST", rows.c_str());
  DWORD exit_code = 0;
  const DWORD error =
      Run(program, "\"--gtest_output=xml:" + kit + "\\selftest-results.xml\"",
          &exit_code);
  SetEnvironmentVariableA("SVCENTRY_SELFTEST", nullptr);
  lines->push_back("Test program: " + program +
                   (error == ERROR_TIMEOUT
                        ? " did not end within 30 minutes, and was stopped"
                    : error != 0 ? " could not be started " + ErrorText(error)
                                 : ", exit code " + ExitCodeText(exit_code)));
  const std::vector<std::string> written = ReadLines(rows);
  const Tally tally = TallyOf(written);
  lines->insert(lines->end(), written.begin(), written.end());
  if (tally.passed + tally.failed + tally.skipped == 0) {
    AddRow(FailedStep("it wrote no results to " + rows), lines);
  } else if (error == 0 && exit_code != 0 && tally.failed == 0) {
    AddRow(FailedStep("it failed outside the tests: see its exit code above"),
           lines);
  }
}

// Where the Inno Setup example installs: %ProgramFiles%\Example.
std::string InnoExampleDirectory() {
  char directory[MAX_PATH] = {};
  ExpandEnvironmentStringsA("%ProgramFiles%\\Example", directory, MAX_PATH);
  return directory;
}

// What of svcentry and its examples stands installed, `when`: for the
// report only, as the runner removes nothing.
std::string InstalledLine(const char* when) {
  std::string line = std::string("Installed ") + when + ":";
  for (const std::string& code : InstalledProducts(SVCENTRY_PRODUCT)) {
    line += " the product " + code + ";";
  }
  const std::string inno = InnoExampleDirectory();
  if (GetFileAttributesA(inno.c_str()) != INVALID_FILE_ATTRIBUTES) {
    line += " " + inno + ";";
  }
  return line.back() == ':' ? line + " nothing of svcentry's" : line;
}

// Whether `path` is gone, deleted now or not there.
bool Gone(const std::string& path) {
  return DeleteFileA(path.c_str()) != FALSE ||
         GetLastError() == ERROR_FILE_NOT_FOUND;
}

int RunSelfTest(const std::string& kit) {
  const std::string rows = kit + "\\selftest-rows.txt";
  const std::string report = kit + "\\selftest-report.txt";
  // An earlier run's files must not pass for this one's.
  for (const std::string& path :
       {rows, report, kit + "\\selftest-results.xml"}) {
    if (!Gone(path)) {
      std::printf("Cannot remove the last run's %s %s\n", path.c_str(),
                  ErrorText(GetLastError()).c_str());
      return kExitFailed;
    }
  }
  std::vector<std::string> lines = Header(kit);
  lines.push_back(InstalledLine("before the tests"));
  RunTests(kit, rows, &lines);
  lines.push_back(InstalledLine("after the tests"));
  const Tally tally = TallyOf(lines);
  lines.push_back(TallyLine(tally));
  std::string text;
  for (const std::string& line : lines) {
    text += line + "\r\n";
  }
  const DWORD error = WriteWholeFile(report, text);
  const std::string where = error == 0 ? "the report is " + report
                                       : "no report could be written to " +
                                             report + " " + ErrorText(error);
  std::printf("Self-test: %s; %s\n", lines.back().c_str(), where.c_str());
  return tally.failed == 0 && tally.skipped == 0 && error == 0 ? kExitPassed
                                                               : kExitFailed;
}

}  // namespace
}  // namespace svcentry

int main(int argc, char** argv) {
  using namespace svcentry;
  const std::string option = argc > 1 ? argv[1] : "";
  if (argc > 2 || (argc == 2 && !IsOption(option, "/sandbox") &&
                   !IsOption(option, "/disposable"))) {
    std::printf("Usage: svcentry_selftest [/disposable | /sandbox]\n");
    return kExitFailed;
  }
  if (IsOption(option, "/sandbox")) {
    return StartSandbox(KitDirectory());
  }
  if (!IsOption(option, "/disposable")) {
    std::printf(
        "Nothing was changed. The self-test rewrites this system's services "
        "file and installs products, and puts nothing back: run it in Windows "
        "Sandbox (selftest.cmd /sandbox), or as selftest.cmd /disposable in "
        "a virtual machine that you reset afterwards, never on a machine you "
        "use.\n");
    return kExitNotDisposable;
  }
  if (!IsElevated()) {
    std::printf(
        "svcentry_selftest must run from an elevated prompt: open the "
        "command prompt with Run as administrator.\n");
    return kExitNotElevated;
  }
  // Ctrl+C stops the tests, which share this console, but not the runner,
  // which then writes the report of what ran.
  SetConsoleCtrlHandler(IgnoreInterrupt, TRUE);
  return RunSelfTest(KitDirectory());
}
