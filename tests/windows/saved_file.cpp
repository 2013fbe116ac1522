#include "tests/windows/saved_file.h"

#include <windows.h>
// After windows.h, which they need.
#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

namespace svcentry {

DWORD ReadWholeFile(const std::string& path, std::string* bytes) {
  HANDLE file =
      CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return GetLastError();
  }
  bytes->clear();
  char block[4096];
  DWORD error = 0;
  DWORD got = 1;
  // A read that delivers no byte is the end of the file.
  while (error == 0 && got > 0) {
    if (ReadFile(file, block, sizeof block, &got, nullptr) == FALSE) {
      error = GetLastError();
    } else {
      bytes->append(block, got);
    }
  }
  CloseHandle(file);
  return error;
}

DWORD WriteWholeFile(const std::string& path, const std::string& bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr,
                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return GetLastError();
  }
  DWORD error = 0;
  std::size_t written = 0;
  // WriteFile may write less than it was asked to; writing nothing fails.
  while (error == 0 && written < bytes.size()) {
    const auto size = static_cast<DWORD>(
        std::min<std::size_t>(bytes.size() - written, 1 << 20));
    DWORD wrote = 0;
    if (WriteFile(file, bytes.data() + written, size, &wrote, nullptr) ==
        FALSE) {
      error = GetLastError();
    } else if (wrote == 0) {
      error = ERROR_WRITE_FAULT;
    }
    written += wrote;
  }
  if (CloseHandle(file) == FALSE && error == 0) {
    error = GetLastError();
  }
  return error;
}

namespace {

constexpr SECURITY_INFORMATION kSecurityParts = OWNER_SECURITY_INFORMATION |
                                                GROUP_SECURITY_INFORMATION |
                                                DACL_SECURITY_INFORMATION;

std::string ErrorText(DWORD error) {
  return "(error " + std::to_string(error) + ")";
}

std::string Hex(DWORD value) {
  char text[16];
  static_cast<void>(std::snprintf(text, sizeof text, "0x%08lX",
                                  static_cast<unsigned long>(value)));
  return text;
}

// The owner, group and DACL in the security descriptor language, one line
// that shows them whole; "" when they cannot be written so.
std::string Sddl(PSECURITY_DESCRIPTOR security) {
  char* text = nullptr;
  if (ConvertSecurityDescriptorToStringSecurityDescriptorA(
          security, SDDL_REVISION_1, kSecurityParts, &text, nullptr) == FALSE) {
    return "";
  }
  std::string sddl(text);
  LocalFree(text);
  return sddl;
}

DWORD ReadSecurity(const std::string& path, SavedFile* saved) {
  return GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, kSecurityParts,
                               &saved->owner, &saved->group, &saved->dacl,
                               nullptr, &saved->security);
}

void SaveSecurity(const std::string& path, SavedFile* saved,
                  std::vector<std::string>* lines) {
  const DWORD error = ReadSecurity(path, saved);
  if (error != ERROR_SUCCESS) {
    saved->security = nullptr;
    saved->owner = nullptr;
    saved->group = nullptr;
    saved->dacl = nullptr;
    lines->push_back("ACL: not saved " + ErrorText(error));
    return;
  }
  lines->push_back("ACL: saved (owner, group and DACL): " +
                   Sddl(saved->security));
}

}  // namespace

bool SaveFile(const std::string& path, SavedFile* saved,
              std::vector<std::string>* lines) {
  saved->attributes = GetFileAttributesA(path.c_str());
  if (saved->attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) {
      lines->push_back("Saved: no file stands at " + path +
                       ", so none is left there afterwards");
      return true;
    }
    lines->push_back("Not saved: the attributes of " + path + " " +
                     ErrorText(error));
    return false;
  }
  if ((saved->attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    lines->push_back("Not saved: a directory stands at " + path);
    return false;
  }
  const DWORD error = ReadWholeFile(path, &saved->bytes);
  if (error != 0) {
    lines->push_back("Not saved: the bytes of " + path + " " +
                     ErrorText(error));
    return false;
  }
  saved->exists = true;
  lines->push_back("Saved: " + std::to_string(saved->bytes.size()) +
                   " bytes, attributes " + Hex(saved->attributes));
  SaveSecurity(path, saved, lines);
  return true;
}

namespace {

// What the tests may leave at the path, an empty directory or a read-only,
// hidden or system file, would keep CreateFileA from replacing the file.
void ClearTheWay(const std::string& path) {
  const DWORD now = GetFileAttributesA(path.c_str());
  if (now == INVALID_FILE_ATTRIBUTES) {
    return;
  }
  if ((now & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    RemoveDirectoryA(path.c_str());
  } else {
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  }
}

bool RemoveFile(const std::string& path, std::vector<std::string>* lines) {
  ClearTheWay(path);
  if (DeleteFileA(path.c_str()) == FALSE &&
      GetLastError() != ERROR_FILE_NOT_FOUND) {
    lines->push_back("Not put back: the file the tests left at " + path +
                     " is still there " + ErrorText(GetLastError()));
    return false;
  }
  lines->push_back("Put back: no file at " + path);
  return true;
}

bool PutBytesBack(const std::string& path, const std::string& bytes,
                  std::vector<std::string>* lines) {
  ClearTheWay(path);
  DWORD error = WriteWholeFile(path, bytes);
  std::string now;
  if (error == 0) {
    error = ReadWholeFile(path, &now);
  }
  if (error != 0 || now != bytes) {
    lines->push_back(
        "Not put back: the " + std::to_string(bytes.size()) + " bytes " +
        (error != 0 ? ErrorText(error)
                    : "(the file holds " + std::to_string(now.size()) +
                          " bytes that differ)"));
    return false;
  }
  lines->push_back("Put back: the " + std::to_string(bytes.size()) + " bytes");
  return true;
}

// Setting an owner other than the caller takes SeRestorePrivilege, which
// an administrator's token holds but has not enabled.
void EnableRestorePrivilege() {
  HANDLE token = nullptr;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token) ==
      FALSE) {
    return;
  }
  TOKEN_PRIVILEGES privileges{};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (LookupPrivilegeValueA(nullptr, "SeRestorePrivilege",
                            &privileges.Privileges[0].Luid) != FALSE) {
    AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
  }
  CloseHandle(token);
}

DWORD SetSecurity(const std::string& path, const SavedFile& saved) {
  EnableRestorePrivilege();
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  GetSecurityDescriptorControl(saved.security, &control, &revision);
  // A DACL that was not protected takes its inherited entries from the
  // directory again, as it had them.
  SECURITY_INFORMATION parts =
      DACL_SECURITY_INFORMATION | ((control & SE_DACL_PROTECTED) != 0
                                       ? PROTECTED_DACL_SECURITY_INFORMATION
                                       : UNPROTECTED_DACL_SECURITY_INFORMATION);
  parts |= saved.owner != nullptr ? OWNER_SECURITY_INFORMATION : 0;
  parts |= saved.group != nullptr ? GROUP_SECURITY_INFORMATION : 0;
  std::string name = path;
  return SetNamedSecurityInfoA(name.data(), SE_FILE_OBJECT, parts, saved.owner,
                               saved.group, saved.dacl, nullptr);
}

// The owner, group and DACL of `path` as they stand; "" and the error in
// `*error` when they cannot be read.
std::string CurrentSddl(const std::string& path, DWORD* error) {
  SavedFile now;
  *error = ReadSecurity(path, &now);
  std::string sddl = *error == 0 ? Sddl(now.security) : "";
  ReleaseSavedFile(&now);
  return sddl;
}

// An ACL that the tests left as it was is not set again, so that nothing
// else about the file changes with it (Wine, for one, derives the file's
// Unix permissions from it).
bool PutSecurityBack(const std::string& path, const SavedFile& saved,
                     std::vector<std::string>* lines) {
  const std::string was = saved.security != nullptr ? Sddl(saved.security) : "";
  if (was.empty()) {
    lines->push_back("Not put back: the ACL, which was not saved");
    return false;
  }
  DWORD error = 0;
  std::string is = CurrentSddl(path, &error);
  const bool changed = error == 0 && is != was;
  if (changed) {
    error = SetSecurity(path, saved);
    is = error == 0 ? CurrentSddl(path, &error) : "";
  }
  if (error != 0 || is != was) {
    lines->push_back("Not put back: the ACL " +
                     (error != 0 ? ErrorText(error)
                                 : "(it reads " + is + ", was " + was + ")"));
    return false;
  }
  lines->push_back(changed
                       ? "Put back: the ACL"
                       : "Put back: the ACL, which the tests left as it was");
  return true;
}

// The attributes SetFileAttributes sets; others (compressed, sparse, a
// reparse point) come from how the file is stored, and are not compared.
constexpr DWORD kSettableAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
    FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
    FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

bool PutAttributesBack(const std::string& path, DWORD attributes,
                       std::vector<std::string>* lines) {
  const bool set = SetFileAttributesA(path.c_str(), attributes) != FALSE;
  const DWORD error = set ? 0 : GetLastError();
  const DWORD now = GetFileAttributesA(path.c_str());
  if (!set || now == INVALID_FILE_ATTRIBUTES ||
      (now & kSettableAttributes) != (attributes & kSettableAttributes)) {
    lines->push_back("Not put back: the attributes " + Hex(attributes) + " " +
                     (set ? "(they read " + Hex(now) + ")" : ErrorText(error)));
    return false;
  }
  lines->push_back("Put back: the attributes " + Hex(attributes));
  return true;
}

}  // namespace

bool RestoreFile(const std::string& path, const SavedFile& saved,
                 std::vector<std::string>* lines) {
  if (!saved.exists) {
    return RemoveFile(path, lines);
  }
  // The security descriptor goes last, so that the access it gives or
  // denies cannot stop the steps before it.
  const bool bytes = PutBytesBack(path, saved.bytes, lines);
  const bool attributes = PutAttributesBack(path, saved.attributes, lines);
  const bool security = PutSecurityBack(path, saved, lines);
  return bytes && attributes && security;
}

void ReleaseSavedFile(SavedFile* saved) {
  if (saved->security != nullptr) {
    LocalFree(saved->security);
  }
  saved->security = nullptr;
  saved->owner = nullptr;
  saved->group = nullptr;
  saved->dacl = nullptr;
}

}  // namespace svcentry
