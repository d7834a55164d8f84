// TfsSysFunctions: the engine's own registration module, first in RegisteredModules. It declares
// the basic type names, True/False/nil/Null, ExceptionClassName and ExceptionMessage, the element
// helpers "__StringHelper" and "__ArrayHelper", the 68 system functions (fs_sysfuncs) and the
// value-kind constants, in that order.
#pragma once

#include "script/runtime/fs_iinterpreter.h"

namespace pt {

class TfsSysFunctions : public TfsRTTIModule {
public:
    explicit TfsSysFunctions(TfsScript* script);
};

// The element helpers are runtime objects of the expression unit; it installs their factories
// at start-up. Without them the two names are not declared.
using TfsElementHelperFactory = TfsCustomVariable* (*)();
void SetElementHelperFactories(TfsElementHelperFactory stringHelper,
                               TfsElementHelperFactory arrayHelper) noexcept;

} // namespace pt
