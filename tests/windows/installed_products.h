// What Windows Installer lists as installed, for the tests, which expect
// what they installed to be gone, and for the self-test runner, which
// removes what they left.
#pragma once

#include <string>
#include <vector>

namespace svcentry {

/// The product codes of the installed products named `name`.
std::vector<std::string> InstalledProducts(const std::string& name);

}  // namespace svcentry
