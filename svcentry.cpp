// The program's entry: command-line arguments are ignored.
#include "platform/platform.h"
#include "registration/registration_run.h"

int main() { return svcentry::RunRegistration(svcentry::SystemPlatform()); }
