#include "tests/windows/installed_products.h"

#include <windows.h>
// After windows.h, which it needs.
#include <msi.h>

namespace svcentry {

std::vector<std::string> InstalledProducts(const std::string& name) {
  std::vector<std::string> listed;
  char code[39] = {};
  for (DWORD index = 0; MsiEnumProductsA(index, code) == ERROR_SUCCESS;
       ++index) {
    char product[256] = {};
    DWORD size = sizeof product;
    if (MsiGetProductInfoA(code, INSTALLPROPERTY_INSTALLEDPRODUCTNAME, product,
                           &size) == ERROR_SUCCESS &&
        product == name) {
      listed.emplace_back(code);
    }
  }
  return listed;
}

}  // namespace svcentry
