// Stands in for svcentry.exe where a test needs a program that ends as one
// that crashes or lacks a DLL does: with the exit code that the variable
// SVCENTRY_EXIT_CODE gives in hexadecimal (C0000005, say), which a batch
// file sees as a negative errorlevel.
#include <windows.h>

#include <cstdlib>

int main() {
  char code[16] = {};
  if (GetEnvironmentVariableA("SVCENTRY_EXIT_CODE", code, sizeof code) == 0) {
    return 1;
  }
  ExitProcess(static_cast<UINT>(std::strtoul(code, nullptr, 16)));
}
