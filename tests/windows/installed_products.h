// What Windows Installer lists as installed, for the tests, which expect
// what they installed to be gone, and for the self-test runner, which
// reports what was installed before and after the tests.
#pragma once

#include <string>
#include <vector>

namespace svcentry {

/// The product codes of the installed products named `name`.
std::vector<std::string> InstalledProducts(const std::string& name);

}  // namespace svcentry
