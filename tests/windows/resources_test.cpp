// Reads the program's resources the way Windows does: its version
// information and the manifest the loader applies when it starts.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#if !defined(SVCENTRY_PROGRAM) || !defined(SVCENTRY_VERSION)
#error "SVCENTRY_PROGRAM and the project's SVCENTRY_* facts must be defined"
#endif

namespace svcentry {
namespace {

std::string VersionString(const std::vector<char>& information,
                          const std::string& name) {
  void* value = nullptr;
  UINT length = 0;
  const std::string key = "\\StringFileInfo\\040904B0\\" + name;
  if (VerQueryValueA(information.data(), key.c_str(), &value, &length) ==
          FALSE ||
      length == 0) {
    return "(none)";
  }
  // The length counts the terminating NUL.
  return {static_cast<const char*>(value), length - 1};
}

TEST(ProgramResources, VersionInformationComesFromTheProject) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(SVCENTRY_PROGRAM, &ignored);
  ASSERT_NE(size, 0U) << "error " << GetLastError();
  std::vector<char> information(size);
  ASSERT_NE(GetFileVersionInfoA(SVCENTRY_PROGRAM, 0, size, information.data()),
            FALSE);

  EXPECT_EQ(VersionString(information, "ProductName"), SVCENTRY_PRODUCT);
  EXPECT_EQ(VersionString(information, "ProductVersion"), SVCENTRY_VERSION);
  EXPECT_EQ(VersionString(information, "FileVersion"), SVCENTRY_VERSION);
  EXPECT_EQ(VersionString(information, "FileDescription"),
            SVCENTRY_DESCRIPTION);
  EXPECT_EQ(VersionString(information, "OriginalFilename"), "svcentry.exe");

  void* value = nullptr;
  UINT length = 0;
  ASSERT_NE(VerQueryValueA(information.data(), "\\", &value, &length), FALSE);
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
  EXPECT_EQ(fixed->dwProductVersionMS,
            DWORD{SVCENTRY_VERSION_MAJOR} << 16 | SVCENTRY_VERSION_MINOR);
  EXPECT_EQ(fixed->dwProductVersionLS, DWORD{SVCENTRY_VERSION_PATCH} << 16);
}

TEST(ProgramResources, ManifestAsksToRunAsTheInvoker) {
  const HMODULE program =
      LoadLibraryExA(SVCENTRY_PROGRAM, nullptr,
                     LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_NE(program, nullptr) << "error " << GetLastError();
  HRSRC found =
      FindResourceA(program, CREATEPROCESS_MANIFEST_RESOURCE_ID, RT_MANIFEST);
  ASSERT_NE(found, nullptr);
  const auto* bytes =
      static_cast<const char*>(LockResource(LoadResource(program, found)));
  const std::string manifest(bytes, SizeofResource(program, found));
  FreeLibrary(program);

  EXPECT_NE(manifest.find("<requestedExecutionLevel level=\"asInvoker\""),
            std::string::npos);
  // Windows 10 and 11, which would otherwise run it in a compatibility mode.
  EXPECT_NE(manifest.find("{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"),
            std::string::npos);
}

}  // namespace
}  // namespace svcentry
