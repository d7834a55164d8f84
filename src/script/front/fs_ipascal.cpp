#include "script/front/fs_ipascal.h"

#include "script/front/fs_iilparser.h"

namespace pt {

namespace {

[[maybe_unused]] const bool registered = (RegisterLanguage("PascalScript", grammar_pascal), true);

} // namespace

} // namespace pt
