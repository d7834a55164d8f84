// Expressions and designators. An expression is a small tree of nodes owned by a TfsExpression;
// its leaves are constants, designators and set constructions, its inner nodes operators. The
// builder feeds the tokens in source order and the tree is shaped by operator priority (a
// lower number binds tighter; equal priorities associate to the left). A designator is a chain
// of steps (a, a[i], s[i], obj.Prop, f(x).Field, TStringList.Create) with every member
// resolved when it is built; evaluation never looks anything up by name.
//
// Invariants:
//  - No node keeps a value between evaluations; evaluating numbers allocates nothing.
//  - Calls go through a TfsCallFrame whose argument slots live on the native stack; var
//    parameters are copied from the slots back into the argument expressions after the call.
//  - A designator with a late-binding source is rebuilt from it before its first use, once,
//    by the builder's designator routine (installed with TfsDesignator::SetLateBinder).
#pragma once

#include "script/runtime/fs_iinterpreter.h"
#include "script/runtime/fs_operators.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace pt {

class TfsXMLItem;
class TfsDesignator;
class TfsSetExpression;

// ---- nodes -------------------------------------------------------------------------------------

class TfsExpressionNode : public TfsCustomVariable {
public:
    TfsExpressionNode() : TfsCustomVariable("", fvtVariant, "") {}
    ~TfsExpressionNode() override;

    TfsExpressionNode* Left = nullptr;  // owned
    TfsExpressionNode* Right = nullptr; // owned
    TfsExpressionNode* ParentNode = nullptr;

    virtual int Priority() const noexcept { return 0; }
    // Fills Left if empty, else Right if empty; takes ownership.
    void AddNode(TfsExpressionNode* node) noexcept;
    // Empties the slot that holds node (ownership goes to the caller).
    void RemoveNode(TfsExpressionNode* node) noexcept;
};

// A constant value.
class TfsOperandNode : public TfsExpressionNode {
public:
    explicit TfsOperandNode(const Variant& value);
    Variant ReadValue() override { return Value; }
};

// A designator (owned) read through its item: the variable of a plain-variable designator,
// else the designator itself.
class TfsDesignatorNode : public TfsOperandNode {
public:
    explicit TfsDesignatorNode(TfsDesignator* designator);
    ~TfsDesignatorNode() override;
    TfsDesignator* Designator;
    TfsCustomVariable* Item;
    Variant ReadValue() override { return Item->ReadValue(); }
};

// A set construction (owned); its value is a value array.
class TfsSetNode : public TfsOperandNode {
public:
    explicit TfsSetNode(TfsSetExpression* set);
    ~TfsSetNode() override;
    TfsSetExpression* SetExpression;
    Variant ReadValue() override;
};

enum TfsOperatorCode : uint8_t {
    opcNone = 0,
    opcGreat = 1,
    opcLess = 2,
    opcLessEq = 3,
    opcGreatEq = 4,
    opcNonEq = 5,
    opcEq = 6,
    opcPlus = 7, // also "STRCAT"
    opcMinus = 8,
    opcOr = 9,
    opcXor = 10,
    opcMul = 11,
    opcDivFloat = 12,
    opcDivInt = 13,
    opcMod = 14,
    opcAnd = 15,
    opcShl = 16,
    opcShr = 17,
    opcLeftBracket = 18,
    opcRightBracket = 19,
    opcNot = 20,
    opcUnMinus = 21,
    opcIn = 22,
    opcIs = 23,
};

class TfsOperatorNode : public TfsExpressionNode {
public:
    explicit TfsOperatorNode(TfsOperatorCode code) : Code(code) {}
    TfsOperatorCode Code;
    bool ShortCircuit = false; // both operands typed Boolean (and, or)
    bool IsStrCat = false;
    int Priority() const noexcept override;
};

// The root of an unfinished tree: its value is that of Left.
class TNoneNode : public TfsOperatorNode {
public:
    TNoneNode() : TfsOperatorNode(opcNone) {}
    Variant ReadValue() override;
};

// Binary operators over values (add, subtract, ..., shift).
template <TfsOperatorCode C, TfsOperation Op> class TfsArithNode : public TfsOperatorNode {
public:
    TfsArithNode() : TfsOperatorNode(C) {}
    Variant ReadValue() override { return VarBinaryOp(Op, Left->ReadValue(), Right->ReadValue()); }
};
using TMinusNode = TfsArithNode<opcMinus, opSub>;
using TXorNode = TfsArithNode<opcXor, opXor>;
using TMulNode = TfsArithNode<opcMul, opMul>;
using TDivFloatNode = TfsArithNode<opcDivFloat, opDiv>;
using TDivIntNode = TfsArithNode<opcDivInt, opIntDiv>;
using TModNode = TfsArithNode<opcMod, opMod>;
using TShlNode = TfsArithNode<opcShl, opShl>;
using TShrNode = TfsArithNode<opcShr, opShr>;

// "+"; as "STRCAT" a varString left side joins the loose string forms of both sides.
class TPlusNode : public TfsOperatorNode {
public:
    TPlusNode() : TfsOperatorNode(opcPlus) {}
    Variant ReadValue() override;
};
using TStrCatNode = TPlusNode;

template <TfsOperatorCode C, TfsCompare Cmp> class TfsCompareNode : public TfsOperatorNode {
public:
    TfsCompareNode() : TfsOperatorNode(C) {}
    Variant ReadValue() override {
        return Variant(VarCompare(Cmp, Left->ReadValue(), Right->ReadValue()));
    }
};
using TGreatNode = TfsCompareNode<opcGreat, cmpGt>;
using TLessNode = TfsCompareNode<opcLess, cmpLt>;
using TLessEqNode = TfsCompareNode<opcLessEq, cmpLe>;
using TGreatEqNode = TfsCompareNode<opcGreatEq, cmpGe>;
using TNonEqNode = TfsCompareNode<opcNonEq, cmpNe>;
using TEqNode = TfsCompareNode<opcEq, cmpEq>;

class TOrNode : public TfsOperatorNode {
public:
    TOrNode() : TfsOperatorNode(opcOr) {}
    Variant ReadValue() override;
};
class TAndNode : public TfsOperatorNode {
public:
    TAndNode() : TfsOperatorNode(opcAnd) {}
    Variant ReadValue() override;
};
class TNotNode : public TfsOperatorNode {
public:
    TNotNode() : TfsOperatorNode(opcNot) {}
    Variant ReadValue() override { return VarNot(Left->ReadValue()); }
};
class TUnMinusNode : public TfsOperatorNode {
public:
    TUnMinusNode() : TfsOperatorNode(opcUnMinus) {}
    Variant ReadValue() override { return VarNeg(Left->ReadValue()); }
};
class TInNode : public TfsOperatorNode {
public:
    TInNode() : TfsOperatorNode(opcIn) {}
    Variant ReadValue() override;
};
class TIsNode : public TfsOperatorNode {
public:
    TIsNode() : TfsOperatorNode(opcIs) {}
    Variant ReadValue() override;
};
class TLeftBracketNode : public TfsOperatorNode {
public:
    TLeftBracketNode() : TfsOperatorNode(opcLeftBracket) {}
};
class TRightBracketNode : public TfsOperatorNode {
public:
    TRightBracketNode() : TfsOperatorNode(opcRightBracket) {}
};

// ---- expressions -------------------------------------------------------------------------------

class TfsExpression : public TfsCustomExpression {
public:
    explicit TfsExpression(TfsScript* program);
    ~TfsExpression() override;

    TfsExpressionNode* Root;        // owned
    TfsExpressionNode* CurrentNode; // where the next node attaches
    TfsScript* Program;
    std::string SourceText;

    // Tokens in source order; each new node takes the expression's SourcePos.
    void AddOperator(std::string_view text);
    void AddConstant(const Variant& value);
    void AddDesignator(TfsDesignator* designator); // takes ownership
    void AddSet(TfsSetExpression* set);            // takes ownership
    // Type-checks the tree; returns the position of the first error, or "".
    std::string Finish();
    // x := x op e / x := e op x: cuts the tree down to e and returns the operator, else " ".
    std::string TryCompound(const TfsDesignator* target);

    Variant ReadValue() override { return Root->ReadValue(); }
    void WriteValue(const Variant& value) override;

    // The item a plain read goes through: the root operand (a designator's item or the
    // constant node) when the expression is one operand, else the expression.
    TfsCustomVariable* SingleItem() noexcept;
    // The designator of the root when it is a designator node.
    TfsDesignator* RootDesignator() const noexcept;

private:
    void Attach(TfsExpressionNode* node);
    bool finished_ = false;
};

// Element expressions of a set construction; a null entry between two expressions marks a
// range: [1, 3..5] is stored as 1, 3, null, 5.
class TfsSetExpression : public TfsCustomExpression {
public:
    TfsSetExpression() : TfsCustomExpression("", fvtVariant, "") {}
    ~TfsSetExpression() override;
    std::vector<TfsExpression*> Elements; // owned; null = range marker
    void Add(TfsExpression* element) { Elements.push_back(element); }
    // Membership: equality, or start <= value <= end for a range; elements are evaluated
    // only up to the first match.
    bool Contains(const Variant& value);
    // A value array from index 0, Null for a range marker.
    Variant ReadValue() override;
};

// Membership of a value in a value array made by a set construction (Null = range marker).
bool ValueInArray(const Variant& value, const Variant& array);

// ---- designators -------------------------------------------------------------------------------

class TfsDesignatorItem : public TfsItem {
public:
    ~TfsDesignatorItem() override;
    TfsCustomVariable* Member = nullptr;
    std::unique_ptr<TfsCustomVariable> OwnedMember; // a member made for this step only
    std::vector<TfsExpression*> Args;               // owned
    std::string SourcePos;
    bool IsIndexed = false;
    // Set by Finish: the member is read with ReadCall (it takes arguments or a parent value,
    // or runs script code), else with ReadValue.
    bool UseCall = false;
    bool HasByRef = false;
};

enum TfsDesignatorKind : uint8_t { dkGeneric = 0, dkVariable = 1, dkString = 2, dkArray = 3 };

class TfsDesignator : public TfsCustomVariable {
public:
    TfsDesignator(TfsScript* program, TfsScript* mainProgram);
    ~TfsDesignator() override;

    std::vector<TfsDesignatorItem*> Items; // owned
    TfsScript* Program;
    TfsScript* MainProgram;
    TfsDesignatorKind Kind = dkGeneric;
    TfsCustomVariable* LinkedRef = nullptr;   // kinds 1-3: the first member
    TfsExpression* FirstRef = nullptr;        // kind 2: the index expression
    TfsCustomVariable* FirstHelper = nullptr; // kind 3: the variable's array helper
    TfsDesignatorItem* SecondRef = nullptr;   // kind 3: the index step
    std::unique_ptr<TfsXMLItem> LateBindingSource;
    bool LateBindingNeedsDeclarations = true; // the language's declarations-required flag

    TfsDesignatorItem* AddItem(TfsCustomVariable* member, std::string_view sourcePos);
    TfsDesignatorItem* LastItem() const noexcept { return Items.empty() ? nullptr : Items.back(); }
    void RemoveLastItem() noexcept;
    // Type, read-only flag, kind and references from the steps.
    void Finish();
    // Takes over the steps, kind, references and type of another designator (which is left
    // without steps).
    void CopyFrom(TfsDesignator& other);

    Variant ReadValue() override;
    void WriteValue(const Variant& value) override;

    // The late binder rebuilds a designator from its LateBindingSource (the builder installs
    // it); it must leave the designator without a source, also when it fails.
    using TfsLateBinder = void (*)(TfsDesignator& designator);
    static void SetLateBinder(TfsLateBinder binder) noexcept;

protected:
    void Bind();
    Variant Evaluate(const Variant* toWrite);
};

class TfsVariableDesignator : public TfsDesignator {
public:
    using TfsDesignator::TfsDesignator;
    Variant ReadValue() override { return LinkedRef->ReadValue(); }
    void WriteValue(const Variant& value) override { LinkedRef->WriteValue(value); }
};

class TfsStringDesignator : public TfsDesignator {
public:
    using TfsDesignator::TfsDesignator;
    Variant ReadValue() override;
    void WriteValue(const Variant& value) override;
};

class TfsArrayDesignator : public TfsDesignator {
public:
    using TfsDesignator::TfsDesignator;
    Variant ReadValue() override;
    void WriteValue(const Variant& value) override;
};

// ---- element helpers ---------------------------------------------------------------------------

// a[i], a[i, j], a[i, j, k]: works in place on the array held by the frame's ParentItem (a
// read takes the parent value when that is an array).
class TfsArrayHelper : public TfsCustomHelper {
public:
    // dims index parameters are required; the shared "__ArrayHelper" has one required and two
    // optional ones.
    TfsArrayHelper(std::string_view name, std::string_view typeName, TfsVarType typeCode, int dims,
                   int required);
    Variant ReadCall(TfsCallFrame& frame) override;
    void WriteCall(TfsCallFrame& frame, const Variant& value) override;
};

// s[i]: the character at 1-based position i; an index outside 1..length raises.
class TfsStringHelper : public TfsCustomHelper {
public:
    TfsStringHelper();
    Variant ReadCall(TfsCallFrame& frame) override;
    void WriteCall(TfsCallFrame& frame, const Variant& value) override;
};

// Adds "__StringHelper" and "__ArrayHelper" to a scope (the system functions call it).
void DeclareElementHelpers(TfsScript& scope);

// A one-character string value that never allocates (shared constants).
Variant CharValue(unsigned char c) noexcept;
// Raises the error of a string index outside 1..length.
[[noreturn]] void RaiseStringIndexError(int64_t index, size_t length);

} // namespace pt
