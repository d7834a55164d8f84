#include "script/runtime/fs_istatements.h"

#include "script/runtime/fs_errors.h"

#include <new>

namespace pt {

namespace {

// Runs a statement list and reports whether the enclosing loop must end (break or exit).
inline bool PassEnds(TfsScript* p) {
    if (p->BreakRequested || p->ExitRequested) return true;
    p->ContinueRequested = false;
    return false;
}

struct BreakClear {
    TfsScript* p;
    ~BreakClear() { p->BreakRequested = false; }
};

} // namespace

// ---- assignments -------------------------------------------------------------------------------

TfsAssignmentStmt::~TfsAssignmentStmt() {
    delete Target;
    delete Source;
}

void TfsAssignmentStmt::Prepare() {
    writeItem_ = Target;
    if (Target->Kind == dkVariable && !Target->LateBindingSource) writeItem_ = Target->LinkedRef;
    readItem_ = Source->SingleItem();
    plainVar_ = nullptr;
    // A plain TfsVariable (not a string variable, whose store rule differs) is written
    // directly when it has no hook; its conversion by type code is kept.
    if (writeItem_ != Target && typeid(*writeItem_) == typeid(TfsVariable))
        plainVar_ = static_cast<TfsVariable*>(writeItem_);
}

namespace {

// Stores into a plain variable with its type's conversion, without a temporary when the
// value already has the stored kind.
inline void StoreInto(TfsVariable* var, Variant&& value) {
    if (var->ReadOnly) return;
    const uint16_t k = value.Kind();
    switch (var->TypeCode) {
    case fvtInt:
        if (k == varInteger) {
            var->Value = std::move(value);
            return;
        }
        break;
    case fvtFloat:
        if (k == varDouble || k == varDate) {
            var->Value = std::move(value);
            return;
        }
        break;
    case fvtBool:
        if (k == varBoolean) {
            var->Value = std::move(value);
            return;
        }
        break;
    case fvtChar:
    case fvtString:
        break;
    default:
        var->Value = std::move(value);
        return;
    }
    var->Value = ConvertForStore(var->TypeCode, value);
}

} // namespace

void TfsAssignmentStmt::Perform() {
    Program->ReportLine(UnitName, SourcePos);
    Variant v = readItem_->ReadValue();
    if (plainVar_ && !plainVar_->OnGetVarValue)
        StoreInto(plainVar_, std::move(v));
    else
        writeItem_->WriteValue(v);
}

void TfsCompoundAssignStmt::Perform() {
    Program->ReportLine(UnitName, SourcePos);
    if (plainVar_ && !plainVar_->OnGetVarValue && !plainVar_->ReadOnly) {
        // In place: a string that only this variable holds grows without being copied.
        Variant r = readItem_->ReadValue();
        Variant& slot = plainVar_->Value;
        VarBinaryOpInPlace(op_, slot, r);
        const TfsVarType t = plainVar_->TypeCode;
        const uint16_t k = slot.Kind();
        if ((t == fvtInt && k != varInteger) || (t == fvtFloat && k != varDouble && k != varDate) ||
            (t == fvtBool && k != varBoolean)) {
            Variant result = std::move(slot);
            try {
                slot = ConvertForStore(t, result);
            } catch (...) {
                slot = std::move(result);
                throw;
            }
        }
        return;
    }
    Variant l = writeItem_->ReadValue();
    Variant r = readItem_->ReadValue();
    VarBinaryOpInPlace(op_, l, r);
    writeItem_->WriteValue(l);
}

TfsCallStmt::~TfsCallStmt() {
    delete Target;
}

void TfsCallStmt::Perform() {
    Program->ReportLine(UnitName, SourcePos);
    if (Modifier.empty()) {
        Target->ResultWanted = false;
        Target->ReadValue();
        return;
    }
    Variant v = Target->ReadValue();
    v = VarBinaryOp(Modifier == "+" ? opAdd : opSub, v, Variant::Byte(1));
    Target->WriteValue(v);
}

// ---- branches ----------------------------------------------------------------------------------

TfsIfStmt::TfsIfStmt(TfsScript* p, std::string pos, std::string unit)
    : TfsStatement(p, pos, unit), ElseBranch(std::make_unique<TfsStatement>(p, pos, unit)) {}

TfsIfStmt::~TfsIfStmt() {
    delete Condition;
}

void TfsIfStmt::Perform() {
    Program->ReportLine(UnitName, SourcePos);
    if (Condition->ReadValue().ToBool())
        TfsStatement::Perform();
    else
        ElseBranch->Perform();
}

TfsCaseSelector::~TfsCaseSelector() {
    delete Values;
}

TfsCaseStmt::TfsCaseStmt(TfsScript* p, std::string pos, std::string unit)
    : TfsStatement(p, pos, unit), ElseBranch(std::make_unique<TfsStatement>(p, pos, unit)) {}

TfsCaseStmt::~TfsCaseStmt() {
    delete Condition;
}

void TfsCaseStmt::Perform() {
    Variant v = Condition->ReadValue();
    Program->ReportLine(UnitName, SourcePos);
    for (TfsItem* item : list_) {
        auto* selector = static_cast<TfsCaseSelector*>(item);
        if (selector->Values->Contains(v)) {
            selector->TfsStatement::Perform();
            return;
        }
    }
    ElseBranch->Perform();
}

// ---- loops -------------------------------------------------------------------------------------

TfsRepeatStmt::~TfsRepeatStmt() {
    delete Condition;
}

void TfsRepeatStmt::Perform() {
    Program->ReportLine(UnitName, SourcePos);
    BreakClear clear{Program};
    for (;;) {
        TfsStatement::Perform();
        if (PassEnds(Program)) break;
        if (Condition->ReadValue().ToBool() != Inverse) break;
    }
}

TfsWhileStmt::~TfsWhileStmt() {
    delete Condition;
}

void TfsWhileStmt::Perform() {
    Program->ReportLine(UnitName, SourcePos);
    BreakClear clear{Program};
    while (Condition->ReadValue().ToBool()) {
        TfsStatement::Perform();
        if (PassEnds(Program)) break;
    }
}

TfsForStmt::~TfsForStmt() {
    delete StartValue;
    delete EndValue;
}

void TfsForStmt::Perform() {
    int32_t start, end;
    try {
        start = StartValue->ReadValue().ToInt();
        end = EndValue->ReadValue().ToInt();
    } catch (...) {
        Program->ReportLine(UnitName, SourcePos);
        throw;
    }
    Program->ReportLine(UnitName, SourcePos);
    if (Down ? start < end : end < start) return;
    BreakClear clear{Program};
    // The pass count is fixed here: the body cannot change the iteration.
    const int64_t passes = Down ? int64_t(start) - end + 1 : int64_t(end) - start + 1;
    const int32_t step = Down ? -1 : 1;
    int32_t value = start;
    for (int64_t pass = 0; pass < passes; ++pass, value += (pass < passes ? step : 0)) {
        PtValue& raw = Counter->Value.Raw();
        if (raw.vt == varInteger) {
            raw.u.i32 = value;
        } else {
            Counter->Value = Variant(value);
        }
        TfsStatement::Perform();
        if (PassEnds(Program)) break;
    }
}

TfsVbForStmt::~TfsVbForStmt() {
    delete StartValue;
    delete EndValue;
    delete Step;
}

void TfsVbForStmt::Perform() {
    Variant v, end, step;
    try {
        v = StartValue->ReadValue();
        end = EndValue->ReadValue();
        step = Step ? Step->ReadValue() : Variant::Byte(1);
    } catch (...) {
        Program->ReportLine(UnitName, SourcePos);
        throw;
    }
    Program->ReportLine(UnitName, SourcePos);
    BreakClear clear{Program};
    const bool down = VarCompare(cmpLt, step, Variant(int32_t{0}));
    while (down ? VarCompare(cmpGe, v, end) : VarCompare(cmpLe, v, end)) {
        Counter->Value = v;
        TfsStatement::Perform();
        if (PassEnds(Program)) break;
        VarBinaryOpInPlace(opAdd, v, step);
    }
}

TfsCppForStmt::TfsCppForStmt(TfsScript* p, std::string pos, std::string unit)
    : TfsStatement(p, pos, unit), InitList(std::make_unique<TfsStatement>(p, pos, unit)),
      StepList(std::make_unique<TfsStatement>(p, pos, unit)) {}

TfsCppForStmt::~TfsCppForStmt() {
    delete Condition;
}

void TfsCppForStmt::Perform() {
    Program->ReportLine(UnitName, SourcePos);
    BreakClear clear{Program};
    InitList->Perform();
    while (Condition->ReadValue().ToBool()) {
        TfsStatement::Perform();
        if (PassEnds(Program)) break;
        StepList->Perform();
    }
}

// ---- exceptions and jumps ----------------------------------------------------------------------

TfsTryStmt::TfsTryStmt(TfsScript* p, std::string pos, std::string unit)
    : TfsStatement(p, pos, unit), Handler(std::make_unique<TfsStatement>(p, pos, unit)) {}

namespace {

void RunHandlerKeepingFlags(TfsScript* p, TfsStatement* handler) {
    const bool exitR = p->ExitRequested, breakR = p->BreakRequested,
               continueR = p->ContinueRequested;
    p->ExitRequested = p->BreakRequested = p->ContinueRequested = false;
    handler->Perform();
    p->ExitRequested = exitR;
    p->BreakRequested = breakR;
    p->ContinueRequested = continueR;
}

} // namespace

void TfsTryStmt::Perform() {
    Program->ReportLine(UnitName, SourcePos);
    if (IsExcept) {
        std::string className, message;
        try {
            TfsStatement::Perform();
            return;
        } catch (const EScriptError& e) {
            className = e.className();
            message = e.message();
        } catch (const std::bad_alloc&) {
            throw;
        } catch (const std::exception& e) {
            className = kException;
            message = e.what();
        }
        Program->SetValueOf("ExceptionClassName", Variant(className));
        Program->SetValueOf("ExceptionMessage", Variant(message));
        Handler->Perform();
        return;
    }
    try {
        TfsStatement::Perform();
    } catch (...) {
        RunHandlerKeepingFlags(Program, Handler.get());
        throw;
    }
    RunHandlerKeepingFlags(Program, Handler.get());
}

void TfsExitStmt::Perform() {
    Program->ReportLine(UnitName, SourcePos);
    Program->ExitRequested = true;
}

TfsWithStmt::~TfsWithStmt() {
    delete Target;
}

void TfsWithStmt::Perform() {
    Variable->WriteValue(Target->ReadValue());
}

} // namespace pt
