// A file saved as it stands, bytes, attributes and security descriptor, so
// that it can be put back after others rewrote it: the self-test runner
// keeps the system's services file so while the tests rewrite it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace svcentry {

struct SavedFile {
  // Whether a file stood there; when none did, putting back removes one.
  bool exists = false;
  std::string bytes;
  DWORD attributes = 0;
  // Its owner, group and DACL, as GetNamedSecurityInfoA gave them (they
  // point into `security`); null when they could not be read.
  PSECURITY_DESCRIPTOR security = nullptr;
  PSID owner = nullptr;
  PSID group = nullptr;
  PACL dacl = nullptr;
};

/// Reads the whole file at `path`; 0, or the error that stopped it.
DWORD ReadWholeFile(const std::string& path, std::string* bytes);
/// Writes `bytes` as the whole file at `path`; 0, or the error.
DWORD WriteWholeFile(const std::string& path, const std::string& bytes);

/// Saves the file at `path`, and adds a line to `lines` for its bytes and
/// attributes and one for its security descriptor. False when its bytes
/// could not be read: nothing that rewrites it may then run. A security
/// descriptor that cannot be read is a line, and is then not put back.
bool SaveFile(const std::string& path, SavedFile* saved,
              std::vector<std::string>* lines);

/// Puts back what `saved` holds at `path`, bytes, attributes and security
/// descriptor, each checked by reading it again, with a line in `lines`
/// for each. False when one was not put back, or was not saved.
bool RestoreFile(const std::string& path, const SavedFile& saved,
                 std::vector<std::string>* lines);

/// Frees the security descriptor `saved` holds.
void ReleaseSavedFile(SavedFile* saved);

}  // namespace svcentry
