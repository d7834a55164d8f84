#include "common/pt_build.h"

namespace pt {
const char* BuildVersionText() noexcept { return PT_VERSION_TEXT; }
} // namespace pt
