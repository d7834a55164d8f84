// The PascalScript language unit: its grammar text, entered into the language registry under
// "PascalScript" when the module starts.
#pragma once

namespace pt {

// The grammar (src/script/front/grammars/pascal.xml), compiled into the library.
extern const char grammar_pascal[];

} // namespace pt
