#include "tests/windows/test_files.h"

#include <windows.h>

namespace svcentry {
namespace {

// The directory of the running test program, with its last backslash.
std::string OwnDirectory() {
  char path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  const std::string program(path, length);
  return program.substr(0, program.rfind('\\') + 1);
}

}  // namespace

bool RunsUnderWine() {
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr &&
         GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::string SystemDirectory() {
  char directory[MAX_PATH] = {};
  const UINT length = GetSystemDirectoryA(directory, MAX_PATH);
  return {directory, length};
}

std::string SystemProgram(const std::string& name) {
  return SystemDirectory() + "\\" + name;
}

std::string TemporaryDirectory() {
  char directory[MAX_PATH + 1] = {};
  const DWORD length = GetTempPathA(MAX_PATH + 1, directory);
  return std::string(directory, length > 0 ? length - 1 : 0);
}

std::string ProgramFilesDirectory() {
  char directory[MAX_PATH] = {};
  const DWORD length =
      GetEnvironmentVariableA("ProgramW6432", directory, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::string(directory, length)
                                         : "C:\\Program Files";
}

std::string TestFile(const std::string& path, const std::string& built) {
  const std::string beside = OwnDirectory() + path;
  WIN32_FIND_DATAA found{};
  const HANDLE search = FindFirstFileA(beside.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    // In the self-test kit, a file it lacks is missing, not the build
    // tree's.
    return GetEnvironmentVariableA("SVCENTRY_SELFTEST", nullptr, 0) > 0 ? beside
                                                                        : built;
  }
  FindClose(search);
  return beside.substr(0, beside.rfind('\\') + 1) + found.cFileName;
}

}  // namespace svcentry
