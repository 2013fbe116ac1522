// The whole run: make sure the services file holds the services entry.
#pragma once

#include <cstddef>

#include "platform/platform.h"
#include "registration/text_stream.h"

namespace svcentry {

/// The line searched for and, when no line begins with it, appended.
inline constexpr char kServicesEntry[] = "gds_db           3050/tcp";

/// Finds the services file under the system directory, appends the services
/// entry unless a line already begins with it, and prints exactly one
/// message. Returns the exit code: 0 when the entry is in the file
/// afterwards, 1 when a step failed. `block_size` is the text stream's.
int RunRegistration(Platform& platform,
                    std::size_t block_size = TextStream::kBlockSize);

}  // namespace svcentry
