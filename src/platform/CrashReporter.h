// A minimal crash reporter: describes the exception being handled (type, message, call stack)
// and hands it to a report hook. Call the functions only inside a catch block.
#pragma once

#include <functional>
#include <string>

namespace pt {

// "Exception class: <type>" , "Message: <text>", "Call stack:" and one line per frame, lines
// separated by "\n". Empty when no exception is being handled.
std::string CurrentExceptionDescription();

// Reports the current exception: passes its description to the report hook, if one is set.
// Never throws.
void ReportCurrentException() noexcept;

// Replaces the report hook (an empty function removes it); answers the previous one. The hook
// may be called from any thread; it must not throw.
using TExceptionReportHook = std::function<void(const std::string& description)>;
TExceptionReportHook SetExceptionReportHook(TExceptionReportHook hook);

} // namespace pt
