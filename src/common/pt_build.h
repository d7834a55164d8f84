// Build identity: the version text compiled in from the build system.
#pragma once

namespace pt {
// "major.minor.patch.build"
const char* BuildVersionText() noexcept;
} // namespace pt
