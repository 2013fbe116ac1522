// Reads the program's resources the way Windows does: its version
// information and the manifest the loader applies when it starts.
#include <windows.h>

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "tests/windows/test_files.h"

#if !defined(SVCENTRY_MSI_ACTION_DESCRIPTION) || !defined(SVCENTRY_VERSION)
#error "The binaries and the project's SVCENTRY_* facts must be defined"
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

// The SDK spells these with a lower-case suffix.
constexpr DWORD kApplication =
    VFT_APP;  // NOLINT(cert-dcl16-c,readability-uppercase-literal-suffix)
constexpr DWORD kLibrary =
    VFT_DLL;  // NOLINT(cert-dcl16-c,readability-uppercase-literal-suffix)

struct Binary {
  std::string path;
  const char* file_name;
  const char* description;
  DWORD file_type;
};

void PrintTo(const Binary& binary, std::ostream* out) {
  *out << binary.file_name;
}

class BinaryResources : public ::testing::TestWithParam<Binary> {};

TEST_P(BinaryResources, VersionInformationComesFromTheProject) {
  const Binary& binary = GetParam();
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(binary.path.c_str(), &ignored);
  ASSERT_NE(size, 0U) << "error " << GetLastError();
  std::vector<char> information(size);
  ASSERT_NE(
      GetFileVersionInfoA(binary.path.c_str(), 0, size, information.data()),
      FALSE);

  EXPECT_EQ(VersionString(information, "ProductName"), SVCENTRY_PRODUCT);
  EXPECT_EQ(VersionString(information, "ProductVersion"), SVCENTRY_VERSION);
  EXPECT_EQ(VersionString(information, "FileVersion"), SVCENTRY_VERSION);
  EXPECT_EQ(VersionString(information, "FileDescription"), binary.description);
  EXPECT_EQ(VersionString(information, "OriginalFilename"), binary.file_name);

  void* value = nullptr;
  UINT length = 0;
  ASSERT_NE(VerQueryValueA(information.data(), "\\", &value, &length), FALSE);
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
  EXPECT_EQ(fixed->dwProductVersionMS,
            DWORD{SVCENTRY_VERSION_MAJOR} << 16 | SVCENTRY_VERSION_MINOR);
  EXPECT_EQ(fixed->dwProductVersionLS, DWORD{SVCENTRY_VERSION_PATCH} << 16);
  EXPECT_EQ(fixed->dwFileType, binary.file_type);
}

INSTANTIATE_TEST_SUITE_P(
    Release, BinaryResources,
    ::testing::Values(Binary{kProgram, "svcentry.exe", SVCENTRY_DESCRIPTION,
                             kApplication},
                      Binary{kMsiAction, "svcentry-msi.dll",
                             SVCENTRY_MSI_ACTION_DESCRIPTION, kLibrary}),
    [](const ::testing::TestParamInfo<Binary>& param_info) {
      return std::string(
          param_info.param.file_type == kApplication ? "Program" : "MsiAction");
    });

TEST(ProgramResources, ManifestAsksToRunAsTheInvoker) {
  const HMODULE program =
      LoadLibraryExA(kProgram.c_str(), nullptr,
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
