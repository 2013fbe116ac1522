#include "platform/msi_platform.h"

#include <algorithm>
#include <cstring>

namespace svcentry {

namespace {

// Windows Installer formats the text of every message it is given: after
// putting field 1 in place of "[1]" it expands "[property]" and "{...}" in
// the result, so a field alone does not keep a path as it stands. Each of
// the four characters that formatting acts on goes as the escape "[\c]",
// which stands for c alone. `escaped` holds 4 characters for each of
// `text`'s and a NUL.
void EscapeFormatting(const char* text, char* escaped) {
  for (; *text != '\0'; ++text) {
    if (std::strchr("[]{}", *text) != nullptr) {
      *escaped++ = '[';
      *escaped++ = '\\';
      *escaped++ = *text;
      *escaped++ = ']';
    } else {
      *escaped++ = *text;
    }
  }
  *escaped = '\0';
}

}  // namespace

bool MsiPlatform::WriteStandardOutput(const char* text, std::size_t size) {
  const std::size_t kept = std::min(size, sizeof message_ - 1 - size_);
  std::memcpy(message_ + size_, text, kept);
  size_ += kept;
  return kept == size;
}

UINT MsiPlatform::ReportOutcome(int exit_code) {
  const bool succeeded = exit_code == 0;
  // A log line or a dialog ends its text itself.
  const std::size_t end =
      size_ > 0 && message_[size_ - 1] == '\n' ? size_ - 1 : size_;
  message_[end] = '\0';
  char escaped[4 * sizeof message_ + 1];
  EscapeFormatting(message_, escaped);
  int answer = 0;
  const MSIHANDLE record = ::MsiCreateRecord(1);
  if (record != 0) {
    ::MsiRecordSetStringA(record, 0, "[1]");
    ::MsiRecordSetStringA(record, 1, escaped);
    const auto kind = succeeded
                          ? INSTALLMESSAGE_INFO
                          : static_cast<INSTALLMESSAGE>(INSTALLMESSAGE_ERROR |
                                                        MB_ICONERROR | MB_OK);
    answer = ::MsiProcessMessage(install_, kind, record);
    ::MsiCloseHandle(record);
  }
  // Cancel means the user cancelled the install meanwhile, which a custom
  // action answers with a code of its own, so that the install is rolled
  // back as cancelled.
  if (answer == IDCANCEL) {
    return ERROR_INSTALL_USEREXIT;
  }
  return succeeded ? ERROR_SUCCESS : ERROR_INSTALL_FAILURE;
}

}  // namespace svcentry
