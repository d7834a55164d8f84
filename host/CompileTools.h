// `pipetask check` and `pipetask il`: compile-time tools over a script file.
#pragma once

#include <string>

namespace pt::host {

// Compiles the script as the plug-in does (global scope as parent, the sixteen host functions
// declared) and reports the first error as "FILE:LINE:COL: message" (the unit's file when the
// error is in a unit), or prints "Compiled OK". Answers the exit code (0 compiled, 1 not).
int checkScript(const std::string& path, const std::string& text, int language);

// Prints the intermediate form of the script on standard output, or the syntax error as
// "FILE:LINE:COL: message" on standard error. Answers the exit code.
int printIntermediate(const std::string& path, const std::string& text, int language);

} // namespace pt::host
