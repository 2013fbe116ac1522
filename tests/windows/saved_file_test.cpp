// On a tester's Windows the self-test runner alone puts the system's
// services file back after the tests rewrote it, so a fault in putting
// back would leave a changed system file there. Each row leaves a file of
// its own as the tests may leave the services file, and checks that it is
// put back whole: bytes, attributes and security descriptor.
#include "tests/windows/saved_file.h"

#include <windows.h>
// After windows.h, which they need.
#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "tests/windows/test_files.h"

namespace svcentry {
namespace {

const std::string kBytes = "echo             7/tcp\r\n";

void Rewrite(const std::string& path) {
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  WriteWholeFile(path, "gds_db           3050/tcp\r\n");
}

void RewriteReadOnly(const std::string& path) {
  Rewrite(path);
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
}

void Delete(const std::string& path) {
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileA(path.c_str());
}

void Recreate(const std::string& path) {
  Delete(path);
  WriteWholeFile(path, kBytes);
}

void LeaveDirectory(const std::string& path) {
  Delete(path);
  CreateDirectoryA(path.c_str(), nullptr);
}

// A DACL of the tests' own, protected from the directory's entries.
void ReplaceDacl(const std::string& path) {
  PSECURITY_DESCRIPTOR security = nullptr;
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
      "D:P(A;;FA;;;WD)", SDDL_REVISION_1, &security, nullptr));
  ASSERT_TRUE(GetSecurityDescriptorDacl(security, &present, &dacl, &defaulted));
  std::string name = path;
  EXPECT_EQ(SetNamedSecurityInfoA(
                name.data(), SE_FILE_OBJECT,
                DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                nullptr, nullptr, dacl, nullptr),
            static_cast<DWORD>(ERROR_SUCCESS));
  LocalFree(security);
}

struct Leftover {
  const char* name;
  // Whether a file stood there when it was saved, and its attributes.
  bool existed;
  DWORD attributes;
  // What the tests leave at its path.
  void (*leave)(const std::string& path);
};

void PrintTo(const Leftover& leftover, std::ostream* out) {
  *out << leftover.name;
}

const std::vector<Leftover> kLeftovers = {
    {"Rewritten", true, FILE_ATTRIBUTE_ARCHIVE, Rewrite},
    {"RewrittenReadOnly", true, FILE_ATTRIBUTE_ARCHIVE, RewriteReadOnly},
    {"ReadOnlyWasRewritten", true, FILE_ATTRIBUTE_READONLY, Rewrite},
    {"Deleted", true, FILE_ATTRIBUTE_ARCHIVE, Delete},
    {"HiddenSystemRecreated", true,
     FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE,
     Recreate},
    {"DirectoryInstead", true, FILE_ATTRIBUTE_ARCHIVE, LeaveDirectory},
    {"DaclReplaced", true, FILE_ATTRIBUTE_ARCHIVE, ReplaceDacl},
    {"NoneWasThere", false, 0, Recreate},
};

class SavedFileRestore : public ::testing::TestWithParam<Leftover> {};

TEST_P(SavedFileRestore, PutsBackWhatTheTestsLeft) {
  const Leftover& leftover = GetParam();
  const std::string path =
      TemporaryDirectory() + "\\svcentry-saved-" + leftover.name;
  Delete(path);
  RemoveDirectoryA(path.c_str());
  if (leftover.existed) {
    ASSERT_EQ(WriteWholeFile(path, kBytes), 0U);
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), leftover.attributes));
  }
  SavedFile saved;
  std::vector<std::string> saved_lines;
  ASSERT_TRUE(SaveFile(path, &saved, &saved_lines));
  leftover.leave(path);

  std::vector<std::string> lines;
  EXPECT_TRUE(RestoreFile(path, saved, &lines))
      << ::testing::PrintToString(lines);
  SavedFile again;
  std::vector<std::string> again_lines;
  EXPECT_TRUE(SaveFile(path, &again, &again_lines));
  // The lines name the bytes' count, the attributes and the owner, group
  // and DACL; the bytes themselves are compared too.
  EXPECT_EQ(again_lines, saved_lines);
  EXPECT_EQ(again.bytes, saved.bytes);
  ReleaseSavedFile(&again);
  ReleaseSavedFile(&saved);
  Delete(path);
}

INSTANTIATE_TEST_SUITE_P(
    Leftovers, SavedFileRestore, ::testing::ValuesIn(kLeftovers),
    [](const ::testing::TestParamInfo<Leftover>& param_info) {
      return std::string(param_info.param.name);
    });

}  // namespace
}  // namespace svcentry
