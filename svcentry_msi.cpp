// The MSI custom action's entry: Windows Installer calls it by name, with the
// handle of the install it runs in.
#include "platform/msi_platform.h"
#include "registration/registration_run.h"

extern "C" __declspec(dllexport) UINT
    __stdcall RegisterServiceEntry(MSIHANDLE install) {
  svcentry::MsiPlatform platform(install);
  return platform.ReportOutcome(svcentry::RunRegistration(platform));
}
