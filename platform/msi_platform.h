// The platform layer of the MSI custom action: Windows', except that the one
// message goes to Windows Installer, which keeps no standard output of a
// custom action, instead of to standard output.
#pragma once

#include <windows.h>
// After windows.h, which it needs.
#include <msiquery.h>

#include <cstddef>

#include "platform/windows_platform.h"

namespace svcentry {

class MsiPlatform final : public WindowsPlatform {
 public:
  /// `install` is the handle Windows Installer gives the custom action.
  explicit MsiPlatform(MSIHANDLE install) : install_(install) {}

  /// Keeps the message until the run's exit code tells what kind it is.
  bool WriteStandardOutput(const char* text, std::size_t size) override;

  /// Hands the kept message, without its line end, to the install: after
  /// exit code 0 as information (logged), else as an error (logged, and
  /// shown when the install has a full UI). Returns the custom action's
  /// result for that exit code, ERROR_SUCCESS or ERROR_INSTALL_FAILURE, or
  /// ERROR_INSTALL_USEREXIT when the install was cancelled meanwhile.
  UINT ReportOutcome(int exit_code);

 private:
  MSIHANDLE install_;
  // Longer than any message the run prints; the last byte stays NUL.
  char message_[512] = {};
  std::size_t size_ = 0;
};

}  // namespace svcentry
