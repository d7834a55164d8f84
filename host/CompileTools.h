// `pipetask check` and `pipetask il`: compile-time tools over a script file.
#pragma once

#include <string>

namespace pt::host {

// Checks that the script compiles. The front end parses it first and reports a syntax error
// as "FILE:LINE:COL: message"; then the plug-in compiles it the way `run` does (with the host
// functions registered) and a failure there is reported as "FILE: message". Prints
// "Compiled OK" on success. Answers the exit code (0 compiled, 1 not). Throws IoError or
// PluginError when the plug-in cannot be loaded.
int checkScript(const std::string& path, const std::string& text, int language,
                const std::string& pluginPath);

// Prints the intermediate form of the script on standard output, or the syntax error as
// "FILE:LINE:COL: message" on standard error. Answers the exit code.
int printIntermediate(const std::string& path, const std::string& text, int language);

// Whether this build carries the script front end (check's positions and il need it).
bool haveFrontEnd();

} // namespace pt::host
