// Statements: the builder turns every statement of a script into one object of this family;
// statement lists are themselves TfsStatement objects. Execution is a walk over them: break,
// continue and exit are flags on the statement's Program (the main program or a procedure
// body) that make every enclosing list stop; the innermost loop consumes break and continue,
// and exit is cleared at the end of the procedure call or of Execute. Run-time errors are
// exceptions (EScriptError) that unwind through the statements.
//
// Invariants:
//  - A statement consults only its own Program's flags.
//  - Every statement but break, continue, with and case selectors calls ReportLine once per
//    execution (a case after its condition, a for loop after its bounds).
//  - Loops reuse their statements; executing allocates nothing beyond temporary values.
#pragma once

#include "script/runtime/fs_iexpression.h"
#include "script/runtime/fs_iinterpreter.h"

#include <memory>

namespace pt {

class TfsAssignmentStmt : public TfsStatement {
public:
    using TfsStatement::TfsStatement;
    ~TfsAssignmentStmt() override;
    TfsDesignator* Target = nullptr; // owned
    TfsExpression* Source = nullptr; // owned
    // Shortcuts: the item written (the variable of a plain-variable target, else the
    // designator) and the item read (the expression's single operand, else the expression).
    void Prepare();
    void Perform() override;

protected:
    TfsCustomVariable* writeItem_ = nullptr;
    TfsCustomVariable* readItem_ = nullptr;
    TfsVariable* plainVar_ = nullptr; // write target stored directly (no hook, converting)
};

// target := target op source, reading the target once.
class TfsCompoundAssignStmt : public TfsAssignmentStmt {
public:
    TfsCompoundAssignStmt(TfsScript* program, std::string pos, std::string unit, TfsOperation op)
        : TfsAssignmentStmt(program, std::move(pos), std::move(unit)), op_(op) {}
    void Perform() override;

private:
    TfsOperation op_;
};

class TfsAssignPlusStmt : public TfsCompoundAssignStmt {
public:
    TfsAssignPlusStmt(TfsScript* p, std::string pos, std::string unit)
        : TfsCompoundAssignStmt(p, std::move(pos), std::move(unit), opAdd) {}
};
class TfsAssignMinusStmt : public TfsCompoundAssignStmt {
public:
    TfsAssignMinusStmt(TfsScript* p, std::string pos, std::string unit)
        : TfsCompoundAssignStmt(p, std::move(pos), std::move(unit), opSub) {}
};
class TfsAssignMulStmt : public TfsCompoundAssignStmt {
public:
    TfsAssignMulStmt(TfsScript* p, std::string pos, std::string unit)
        : TfsCompoundAssignStmt(p, std::move(pos), std::move(unit), opMul) {}
};
class TfsAssignDivStmt : public TfsCompoundAssignStmt {
public:
    TfsAssignDivStmt(TfsScript* p, std::string pos, std::string unit)
        : TfsCompoundAssignStmt(p, std::move(pos), std::move(unit), opDiv) {}
};

class TfsCallStmt : public TfsStatement {
public:
    using TfsStatement::TfsStatement;
    ~TfsCallStmt() override;
    TfsDesignator* Target = nullptr; // owned
    std::string Modifier;            // "", "+" or "-"
    void Perform() override;
};

class TfsIfStmt : public TfsStatement {
public:
    TfsIfStmt(TfsScript* p, std::string pos, std::string unit);
    ~TfsIfStmt() override;
    TfsExpression* Condition = nullptr; // owned
    std::unique_ptr<TfsStatement> ElseBranch;
    void Perform() override; // own list = then branch
};

class TfsCaseSelector : public TfsStatement {
public:
    using TfsStatement::TfsStatement;
    ~TfsCaseSelector() override;
    TfsSetExpression* Values = nullptr; // owned
};

class TfsCaseStmt : public TfsStatement {
public:
    TfsCaseStmt(TfsScript* p, std::string pos, std::string unit);
    ~TfsCaseStmt() override;
    TfsExpression* Condition = nullptr; // owned
    std::unique_ptr<TfsStatement> ElseBranch;
    void Perform() override; // own list = selectors
};

class TfsRepeatStmt : public TfsStatement {
public:
    using TfsStatement::TfsStatement;
    ~TfsRepeatStmt() override;
    TfsExpression* Condition = nullptr;
    bool Inverse = false;
    void Perform() override;
};

class TfsWhileStmt : public TfsStatement {
public:
    using TfsStatement::TfsStatement;
    ~TfsWhileStmt() override;
    TfsExpression* Condition = nullptr;
    void Perform() override;
};

class TfsForStmt : public TfsStatement {
public:
    using TfsStatement::TfsStatement;
    ~TfsForStmt() override;
    TfsVariable* Counter = nullptr; // reference
    TfsExpression* StartValue = nullptr;
    TfsExpression* EndValue = nullptr;
    bool Down = false;
    void Perform() override;
};

class TfsVbForStmt : public TfsStatement {
public:
    using TfsStatement::TfsStatement;
    ~TfsVbForStmt() override;
    TfsVariable* Counter = nullptr; // reference
    TfsExpression* StartValue = nullptr;
    TfsExpression* EndValue = nullptr;
    TfsExpression* Step = nullptr; // optional
    void Perform() override;
};

class TfsCppForStmt : public TfsStatement {
public:
    TfsCppForStmt(TfsScript* p, std::string pos, std::string unit);
    ~TfsCppForStmt() override;
    std::unique_ptr<TfsStatement> InitList;
    TfsExpression* Condition = nullptr;
    std::unique_ptr<TfsStatement> StepList;
    void Perform() override;
};

class TfsTryStmt : public TfsStatement {
public:
    TfsTryStmt(TfsScript* p, std::string pos, std::string unit);
    bool IsExcept = false;
    std::unique_ptr<TfsStatement> Handler;
    void Perform() override; // own list = the protected block
};

class TfsBreakStmt : public TfsStatement {
public:
    using TfsStatement::TfsStatement;
    void Perform() override { Program->BreakRequested = true; }
};

class TfsContinueStmt : public TfsStatement {
public:
    using TfsStatement::TfsStatement;
    void Perform() override { Program->ContinueRequested = true; }
};

class TfsExitStmt : public TfsStatement {
public:
    using TfsStatement::TfsStatement;
    void Perform() override;
};

// Evaluates the with-object into its hidden variable; the body follows in the same list.
class TfsWithStmt : public TfsStatement {
public:
    using TfsStatement::TfsStatement;
    ~TfsWithStmt() override;
    TfsCustomVariable* Variable = nullptr; // reference
    TfsDesignator* Target = nullptr;       // owned
    void Perform() override;
};

} // namespace pt
