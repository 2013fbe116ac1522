// Real faults of the operating system, end to end: an append that cannot
// reach the disk, and a file the user running the tool may not change or
// read. Each case checks the message, the exit code and that the file still
// holds exactly its old bytes.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>

#include "tests/e2e_support.h"

namespace svcentry::e2e {
namespace {

namespace fs = std::filesystem;

// Page-sized files put the end of the text exactly where a tmpfs page ends.
const auto kPageSize = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));

// A services file of exactly `size` bytes (at least 40) without the entry.
std::string ServicesOfSize(std::size_t size, bool open_last_line) {
  constexpr std::string_view kLine = "echo             7/tcp\r\n";
  const std::size_t line_end = open_last_line ? 0 : 2;
  std::string text;
  // The last line keeps at least one character of its own.
  while (text.size() + kLine.size() + line_end + 1 <= size) {
    text += kLine;
  }
  text.append(size - text.size() - line_end, '#');
  return open_last_line ? text : text + "\r\n";
}

enum class Fault { kFullFileSystem, kFileSizeLimit };

struct Placement {
  const char* name;
  // Bytes that still fit into the file when the tool appends.
  std::size_t room;
  // The last line has no line end, so CR LF goes in front of the entry:
  // 29 bytes to write instead of 27.
  bool open_last_line;
};

constexpr Placement kPlacements[] = {
    {"AtOnce", 0, false},
    {"AtOnceWithLineEndFirst", 0, true},
    {"PartWay", 10, false},
    {"OneByteShort", 26, false},
    {"InsideTheLeadingLineEnd", 1, true},
    {"AfterTheLeadingLineEnd", 2, true},
};

class AppendFault
    : public SandboxTest,
      public ::testing::WithParamInterface<std::tuple<Fault, Placement>> {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    if (std::get<Fault>(GetParam()) == Fault::kFullFileSystem) {
      MountTinyFileSystem();
    }
  }

  void TearDown() override {
    if (mounted_) {
      EXPECT_EQ(umount(kDrivers.c_str()), 0) << std::strerror(errno);
    }
  }

  // Fills what the services file left free, so that the file's last page
  // is the only room there is.
  static void FillFileSystem() {
    struct statvfs status {};
    ASSERT_EQ(statvfs(kDrivers.c_str(), &status), 0);
    WriteFile(kDrivers / "filler",
              std::string(status.f_bavail * status.f_bsize, '\0'));
    ASSERT_EQ(statvfs(kDrivers.c_str(), &status), 0);
    ASSERT_EQ(status.f_bsize, kPageSize);
    ASSERT_EQ(status.f_bavail, 0U);
  }

 private:
  void MountTinyFileSystem() {
    if (geteuid() != 0) {
      GTEST_SKIP() << "mounting a tmpfs needs root; ./scripts/test runs "
                      "these cases as root";
    }
    fs::create_directories(kDrivers);
    if (mount("svcentry-e2e", kDrivers.c_str(), "tmpfs",
              MS_NOSUID | MS_NODEV | MS_NOEXEC, "size=16k,mode=0755") != 0) {
      const int error = errno;
      if (error == EPERM || error == EACCES) {
        GTEST_SKIP() << "this root may not mount a tmpfs: "
                     << std::strerror(error);
      }
      FAIL() << "mounting a tmpfs failed: " << std::strerror(error);
    }
    mounted_ = true;
  }

  bool mounted_ = false;
};

TEST_P(AppendFault, ReportsTheFailureAndKeepsTheOldBytes) {
  const auto [fault, placement] = GetParam();
  const std::string original =
      ServicesOfSize(kPageSize - placement.room, placement.open_last_line);
  WriteFile(kServices, original);
  Launch launch;
  int error = 0;
  if (fault == Fault::kFullFileSystem) {
    ASSERT_NO_FATAL_FAILURE(FillFileSystem());
    error = ENOSPC;
  } else {
    launch.file_size_limit = original.size() + placement.room;
    error = EFBIG;
  }
  const Outcome outcome = RunProgram(launch);
  EXPECT_EQ(outcome.exit_code, 1);
  EXPECT_EQ(outcome.standard_output, AppendFailure(error));
  EXPECT_EQ(outcome.standard_error, "");
  // No torn entry: the file is cut back to what it held.
  EXPECT_EQ(ReadFile(kServices), original);
}

std::string AppendFaultName(
    const ::testing::TestParamInfo<AppendFault::ParamType>& test) {
  const auto [fault, placement] = test.param;
  return std::string(fault == Fault::kFullFileSystem ? "FullFileSystem"
                                                     : "FileSizeLimit") +
         placement.name;
}

INSTANTIATE_TEST_SUITE_P(
    , AppendFault,
    ::testing::Combine(::testing::Values(Fault::kFullFileSystem,
                                         Fault::kFileSizeLimit),
                       ::testing::ValuesIn(kPlacements)),
    AppendFaultName);

struct Rights {
  const char* name;
  fs::perms mode;
  bool has_entry;
  int exit_code;
  // The refused open ("reading", "writing"); none when the entry is found.
  const char* refused;
};

constexpr Rights kRights[] = {
    {"ReadOnlyWithEntry",
     fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read,
     true, 0, nullptr},
    {"ReadOnlyWithoutEntry",
     fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read,
     false, 1, "writing"},
    {"Unreadable", fs::perms::none, true, 1, "reading"},
};

std::optional<Identity> Nobody() {
  const passwd* nobody = getpwnam("nobody");
  if (nobody == nullptr) {
    return std::nullopt;
  }
  return Identity{nobody->pw_uid, nobody->pw_gid};
}

class FileRights : public SandboxTest,
                   public ::testing::WithParamInterface<Rights> {};

TEST_P(FileRights, DecideTheOutcomeAndNothingChanges) {
  const Rights& rights = GetParam();
  const std::string original =
      std::string("echo 7/tcp\r\n") + (rights.has_entry ? kEntryLine : "");
  WriteFile(kServices, original);
  fs::permissions(kServices.parent_path(), fs::perms(0755));
  fs::permissions(kDrivers, fs::perms(0755));
  // Root may read and write any file, so root's runs use an ordinary user.
  std::optional<Identity> identity;
  if (geteuid() == 0) {
    identity = Nobody();
    if (!identity) {
      GTEST_SKIP() << "no user nobody to run the tool as instead of root";
    }
    if (!CanReach(*identity, kServices.parent_path())) {
      GTEST_SKIP() << "cannot run as user nobody, or nobody cannot reach "
                   << kServices.parent_path()
                   << " or the program (a directory above is closed to "
                      "other users)";
    }
  }
  fs::permissions(kServices, rights.mode);

  const Outcome outcome = RunProgram({.identity = identity});
  EXPECT_EQ(outcome.exit_code, rights.exit_code);
  EXPECT_EQ(outcome.standard_output, rights.refused == nullptr
                                         ? kExistsMessage
                                         : OpenFailure(rights.refused, EACCES));
  EXPECT_EQ(outcome.standard_error, "");
  fs::permissions(kServices, fs::perms::owner_read);
  EXPECT_EQ(ReadFile(kServices), original);
}

INSTANTIATE_TEST_SUITE_P(, FileRights, ::testing::ValuesIn(kRights),
                         [](const auto& test) {
                           return std::string(test.param.name);
                         });

}  // namespace
}  // namespace svcentry::e2e
