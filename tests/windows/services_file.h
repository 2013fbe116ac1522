// The services file of the system the Windows tests run on: what stands
// there, putting it in place, and holding it open while a program runs.
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "tests/windows/child_process.h"
#include "tests/windows/test_files.h"

namespace svcentry {

// Where the program finds it, and names it in its messages.
inline const std::string kServicesPath =
    SystemDirectory() + "\\Drivers\\etc\\services";
inline const std::string kEntryLine = "gds_db           3050/tcp\r\n";
inline const std::string kEcho = "echo             7/tcp\r\n";

// The program's messages about the services file, without the line end that
// standard output gives the two success messages.
inline const std::string kAddedMessage =
    "String 'gds_db           3050/tcp' was successfully added to file " +
    kServicesPath;
inline const std::string kExistsMessage =
    "String 'gds_db           3050/tcp' in file " + kServicesPath +
    " already exists";
/// "Can't open file ... for PURPOSE. Error №CODE".
std::string CantOpenMessage(const std::string& purpose, int code);

// What stands at the services path.
struct Services {
  enum class Kind { kFile, kMissing, kDirectory };
  Kind kind = Kind::kMissing;
  std::string bytes;

  bool operator==(const Services&) const = default;
};

Services File(std::string bytes);
inline const Services kMissing{Services::Kind::kMissing, ""};
inline const Services kDirectory{Services::Kind::kDirectory, ""};

void PrintTo(const Services& services, std::ostream* out);

Services Observe();
void Establish(const Services& services);

// Another program that has the services file open while a program runs: one
// that lets others only read it, or a writer that lets others do anything.
enum class Holder { kNone, kReadersOnly, kSharingWriter };

/// Runs `program` while `holder` has the services file open.
ProgramRun RunHolding(Holder holder, const std::string& program,
                      const std::string& arguments = "");

// Every test rewrites the system's services file, so it runs only in a Wine
// prefix or under the self-test runner (SVCENTRY_SELFTEST), and the file's
// bytes are put back as they were after the suite.
class ServicesFileTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite();
  static void TearDownTestSuite();
  void SetUp() override;
};

}  // namespace svcentry
