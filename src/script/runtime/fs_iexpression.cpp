#include "script/runtime/fs_iexpression.h"

#include "script/front/fs_xml.h"
#include "script/runtime/fs_errors.h"
#include "script/runtime/fs_objects.h"

#include <array>
#include <atomic>

namespace pt {

// ---- nodes -------------------------------------------------------------------------------------

TfsExpressionNode::~TfsExpressionNode() {
    delete Left;
    delete Right;
}

void TfsExpressionNode::AddNode(TfsExpressionNode* node) noexcept {
    if (!Left)
        Left = node;
    else if (!Right)
        Right = node;
    node->ParentNode = this;
}

void TfsExpressionNode::RemoveNode(TfsExpressionNode* node) noexcept {
    if (Left == node)
        Left = nullptr;
    else if (Right == node)
        Right = nullptr;
}

namespace {

TfsVarType TypeOfKind(uint16_t kind) {
    switch (kind) {
    case varBoolean:
        return fvtBool;
    case varSingle:
    case varDouble:
    case varCurrency:
        return fvtFloat;
    case varOleStr:
    case varString:
        return fvtString;
    default:
        return fvtInt;
    }
}

} // namespace

TfsOperandNode::TfsOperandNode(const Variant& value) {
    Value = value;
    TypeCode = TypeOfKind(value.Kind());
    ReadOnly = true;
}

TfsDesignatorNode::TfsDesignatorNode(TfsDesignator* designator)
    : TfsOperandNode(Variant::Null()), Designator(designator), Item(designator) {
    if (designator->Kind == dkVariable && !designator->LateBindingSource)
        Item = designator->LinkedRef;
    TypeCode = designator->TypeCode;
    TypeName = designator->TypeName;
    ReadOnly = designator->ReadOnly;
}

TfsDesignatorNode::~TfsDesignatorNode() {
    delete Designator;
}

TfsSetNode::TfsSetNode(TfsSetExpression* set)
    : TfsOperandNode(Variant::Null()), SetExpression(set) {
    TypeCode = fvtVariant;
}

TfsSetNode::~TfsSetNode() {
    delete SetExpression;
}

Variant TfsSetNode::ReadValue() {
    return SetExpression->ReadValue();
}

int TfsOperatorNode::Priority() const noexcept {
    static constexpr std::array<uint8_t, 24> kPriority = {7, 4, 4, 4, 4, 4, 4, 3, 3, 3, 3, 2,
                                                          2, 2, 2, 2, 2, 2, 6, 5, 1, 1, 4, 4};
    return kPriority[Code];
}

Variant TNoneNode::ReadValue() {
    return Left ? Left->ReadValue() : Variant::Null();
}

Variant TPlusNode::ReadValue() {
    Variant l = Left->ReadValue();
    if (IsStrCat && l.Kind() == varString) {
        Variant r = Right->ReadValue();
        std::string s = l.ToStrLoose();
        s += r.ToStrLoose();
        return Variant(s);
    }
    if (l.Kind() == varInteger) return VarBinaryOp(opAdd, l, Right->ReadValue());
    return VarBinaryOp(opAdd, std::move(l), Right->ReadValue());
}

Variant TOrNode::ReadValue() {
    Variant l = Left->ReadValue();
    if (ShortCircuit) return l.ToBool() ? l : Right->ReadValue();
    return VarBinaryOp(opOr, l, Right->ReadValue());
}

Variant TAndNode::ReadValue() {
    Variant l = Left->ReadValue();
    if (ShortCircuit) return l.ToBool() ? Right->ReadValue() : l;
    return VarBinaryOp(opAnd, l, Right->ReadValue());
}

Variant TInNode::ReadValue() {
    Variant v = Left->ReadValue();
    if (auto* set = dynamic_cast<TfsSetNode*>(Right))
        return Variant(set->SetExpression->Contains(v));
    return Variant(ValueInArray(v, Right->ReadValue()));
}

Variant TIsNode::ReadValue() {
    Variant v = Left->ReadValue();
    auto* node = dynamic_cast<TfsDesignatorNode*>(Right);
    auto* cls = node ? dynamic_cast<TfsClassVariable*>(
                           node->Designator->LinkedRef ? node->Designator->LinkedRef
                                                       : (node->Designator->LastItem()
                                                              ? node->Designator->LastItem()->Member
                                                              : nullptr))
                     : nullptr;
    if (!cls) RaiseError("Class type required");
    if (v.IsNull() || v.IsEmpty()) return Variant(false);
    const uint32_t handle = static_cast<uint32_t>(v.ToInt());
    if (handle == 0) return Variant(false);
    TObject* o = TfsObjectTable::Instance().Resolve(handle);
    return Variant(o != nullptr && InheritsFrom(&o->ClassType(), cls->ClassRef));
}

// ---- set expressions ---------------------------------------------------------------------------

TfsSetExpression::~TfsSetExpression() {
    for (TfsExpression* e : Elements) delete e;
}

bool TfsSetExpression::Contains(const Variant& value) {
    const size_t n = Elements.size();
    for (size_t i = 0; i < n; ++i) {
        TfsExpression* e = Elements[i];
        if (!e) continue;
        if (i + 2 < n && !Elements[i + 1] && Elements[i + 2]) {
            Variant lo = e->ReadValue();
            if (VarCompare(cmpGe, value, lo)) {
                Variant hi = Elements[i + 2]->ReadValue();
                if (VarCompare(cmpLe, value, hi)) return true;
            }
            i += 2;
            continue;
        }
        if (VarCompare(cmpEq, value, e->ReadValue())) return true;
    }
    return false;
}

Variant TfsSetExpression::ReadValue() {
    std::vector<Variant> items;
    items.reserve(Elements.size());
    for (TfsExpression* e : Elements) items.push_back(e ? e->ReadValue() : Variant::Null());
    return Variant::Array(items);
}

bool ValueInArray(const Variant& value, const Variant& array) {
    if (!array.IsArray()) RaiseInvalidOp();
    const int32_t lo = array.ArrayLow(), hi = array.ArrayHigh();
    for (int32_t i = lo; i <= hi; ++i) {
        const Variant& e = array[i];
        if (VarCompare(cmpEq, value, e)) return true;
        if (i < hi - 1 && array[i + 1].IsNull()) {
            if (VarCompare(cmpGe, value, e) && VarCompare(cmpLe, value, array[i + 2])) return true;
            i += 2;
        }
    }
    return false;
}

// ---- expressions -------------------------------------------------------------------------------

TfsExpression::TfsExpression(TfsScript* program)
    : TfsCustomExpression("", fvtVariant, ""), Root(new TNoneNode), CurrentNode(Root),
      Program(program) {}

TfsExpression::~TfsExpression() {
    delete Root;
}

void TfsExpression::Attach(TfsExpressionNode* node) {
    node->SourcePos = SourcePos;
    CurrentNode->AddNode(node);
    CurrentNode = node;
}

namespace {

TfsOperatorNode* NewOperator(std::string_view upper) {
    struct Entry {
        std::string_view text;
        TfsOperatorNode* (*make)();
    };
    static constexpr Entry kOperators[] = {
        {">", []() -> TfsOperatorNode* { return new TGreatNode; }},
        {"<", []() -> TfsOperatorNode* { return new TLessNode; }},
        {"<=", []() -> TfsOperatorNode* { return new TLessEqNode; }},
        {">=", []() -> TfsOperatorNode* { return new TGreatEqNode; }},
        {"<>", []() -> TfsOperatorNode* { return new TNonEqNode; }},
        {"=", []() -> TfsOperatorNode* { return new TEqNode; }},
        {"+", []() -> TfsOperatorNode* { return new TPlusNode; }},
        {"STRCAT",
         []() -> TfsOperatorNode* {
             auto* n = new TStrCatNode;
             n->IsStrCat = true;
             return n;
         }},
        {"-", []() -> TfsOperatorNode* { return new TMinusNode; }},
        {"OR", []() -> TfsOperatorNode* { return new TOrNode; }},
        {"XOR", []() -> TfsOperatorNode* { return new TXorNode; }},
        {"*", []() -> TfsOperatorNode* { return new TMulNode; }},
        {"/", []() -> TfsOperatorNode* { return new TDivFloatNode; }},
        {"DIV", []() -> TfsOperatorNode* { return new TDivIntNode; }},
        {"MOD", []() -> TfsOperatorNode* { return new TModNode; }},
        {"AND", []() -> TfsOperatorNode* { return new TAndNode; }},
        {"SHL", []() -> TfsOperatorNode* { return new TShlNode; }},
        {"SHR", []() -> TfsOperatorNode* { return new TShrNode; }},
        {"(", []() -> TfsOperatorNode* { return new TLeftBracketNode; }},
        {")", []() -> TfsOperatorNode* { return new TRightBracketNode; }},
        {"NOT", []() -> TfsOperatorNode* { return new TNotNode; }},
        {"UNMINUS", []() -> TfsOperatorNode* { return new TUnMinusNode; }},
        {"IN", []() -> TfsOperatorNode* { return new TInNode; }},
        {"IS", []() -> TfsOperatorNode* { return new TIsNode; }},
    };
    for (const Entry& e : kOperators)
        if (e.text == upper) return e.make();
    return nullptr;
}

} // namespace

void TfsExpression::AddOperator(std::string_view text) {
    const std::string upper = UpperCaseName(text);
    TfsOperatorNode* node = NewOperator(upper);
    if (!node) RaiseError("Unknown operator: " + std::string(text));
    node->SourcePos = SourcePos;
    switch (node->Code) {
    case opcLeftBracket:
    case opcNot:
    case opcUnMinus:
        CurrentNode->AddNode(node);
        CurrentNode = node;
        return;
    case opcRightBracket: {
        delete node;
        TfsExpressionNode* n = CurrentNode;
        while (n && 5 >= n->Priority()) n = n->ParentNode;
        auto* bracket = dynamic_cast<TLeftBracketNode*>(n);
        if (!bracket || !bracket->ParentNode) RaiseError("')' without '('");
        TfsExpressionNode* parent = bracket->ParentNode;
        TfsExpressionNode* child = bracket->Left;
        bracket->Left = nullptr;
        if (parent->Left == bracket)
            parent->Left = child;
        else
            parent->Right = child;
        if (child) child->ParentNode = parent;
        delete bracket;
        CurrentNode = child ? child : parent;
        return;
    }
    default:
        break;
    }
    TfsExpressionNode* c = CurrentNode;
    TfsExpressionNode* m = c;
    if (!dynamic_cast<TLeftBracketNode*>(c)) {
        m = c;
        c = c->ParentNode;
    }
    if (!c) {
        delete node;
        RaiseError("Operand expected");
    }
    while (node->Priority() >= c->Priority() && c->ParentNode) {
        m = c;
        c = c->ParentNode;
    }
    if (m == c) { // a binary operator right after "(": nothing to take
        c->AddNode(node);
    } else {
        if (c->Left == m)
            c->Left = node;
        else
            c->Right = node;
        node->ParentNode = c;
        node->Left = m;
        m->ParentNode = node;
    }
    CurrentNode = node;
}

void TfsExpression::AddConstant(const Variant& value) {
    Attach(new TfsOperandNode(value));
}

void TfsExpression::AddDesignator(TfsDesignator* designator) {
    TfsDesignatorNode* node;
    try {
        node = new TfsDesignatorNode(designator);
    } catch (...) {
        delete designator;
        throw;
    }
    Attach(node);
}

void TfsExpression::AddSet(TfsSetExpression* set) {
    TfsSetNode* node;
    try {
        node = new TfsSetNode(set);
    } catch (...) {
        delete set;
        throw;
    }
    Attach(node);
}

namespace {

bool IsComparison(TfsOperatorCode c) {
    return c >= opcGreat && c <= opcEq;
}

struct TypeCheck {
    const TfsClassAncestry* classes;
    std::string firstError;

    void Check(TfsExpressionNode* node) {
        if (!node) return;
        auto* op = dynamic_cast<TfsOperatorNode*>(node);
        if (!op) return; // operands carry their own type
        Check(node->Left);
        Check(node->Right);
        const TfsVarType l = node->Left ? node->Left->TypeCode : fvtVariant;
        const TfsVarType r = node->Right ? node->Right->TypeCode : fvtVariant;
        const std::string_view ln = node->Left ? std::string_view(node->Left->TypeName) : "";
        const std::string_view rn = node->Right ? std::string_view(node->Right->TypeName) : "";
        const TfsOperatorCode c = op->Code;
        if (l == fvtBool && r == fvtBool) op->ShortCircuit = true;
        bool error = false;
        if (!(c == opcIs && l == fvtClass && r == fvtClass)) {
            if (!AcceptsType(l, ln, r, rn, classes))
                error = true;
            else if (l == fvtBool && !(c == opcNonEq || c == opcEq || c == opcOr || c == opcXor ||
                                       c == opcAnd || c == opcNot))
                error = true;
            else if ((l == fvtChar || l == fvtString) &&
                     !(IsComparison(c) || c == opcPlus || c == opcIn))
                error = true;
            else if ((l == fvtClass || l == fvtArray) && !(c == opcEq || c == opcNonEq))
                error = true;
        }
        if (error && firstError.empty())
            firstError = node->SourcePos.empty() ? "0:0" : node->SourcePos;
        TfsVarType t = l;
        std::string_view tn = ln;
        if ((l == fvtInt && r == fvtFloat) || (l == fvtFloat && r == fvtInt)) t = fvtFloat;
        if (c == opcDivFloat && l == fvtInt && r == fvtInt) t = fvtFloat;
        if (IsComparison(c) || c == opcIn || c == opcIs) {
            t = fvtBool;
            tn = "";
        }
        node->TypeCode = t;
        node->TypeName = std::string(tn);
    }
};

} // namespace

std::string TfsExpression::Finish() {
    if (!finished_) {
        finished_ = true;
        TfsExpressionNode* tree = Root->Left;
        Root->Left = nullptr;
        delete Root;
        Root = tree ? tree : new TfsOperandNode(Variant::Null());
        Root->ParentNode = nullptr;
        CurrentNode = Root;
    }
    TypeCheck check{Program, {}};
    check.Check(Root);
    TypeCode = Root->TypeCode;
    TypeName = Root->TypeName;
    auto* d = dynamic_cast<TfsDesignatorNode*>(Root);
    ReadOnly = !(d && !d->Designator->ReadOnly);
    return check.firstError;
}

TfsDesignator* TfsExpression::RootDesignator() const noexcept {
    auto* d = dynamic_cast<TfsDesignatorNode*>(Root);
    return d ? d->Designator : nullptr;
}

TfsCustomVariable* TfsExpression::SingleItem() noexcept {
    if (auto* d = dynamic_cast<TfsDesignatorNode*>(Root)) return d->Item;
    if (dynamic_cast<TfsOperatorNode*>(Root) || dynamic_cast<TfsSetNode*>(Root)) return this;
    return Root; // a constant
}

void TfsExpression::WriteValue(const Variant& value) {
    if (ReadOnly) return;
    if (TfsDesignator* d = RootDesignator()) d->WriteValue(value);
}

namespace {
bool ReadsVariable(TfsExpressionNode* node, const TfsCustomVariable* var) {
    auto* d = dynamic_cast<TfsDesignatorNode*>(node);
    return d && !d->Designator->LateBindingSource && d->Designator->Kind == dkVariable &&
           d->Designator->LinkedRef == var;
}
} // namespace

std::string TfsExpression::TryCompound(const TfsDesignator* target) {
    if (!target || target->Kind != dkVariable || target->LateBindingSource) return " ";
    auto* op = dynamic_cast<TfsOperatorNode*>(Root);
    if (!op || op->IsStrCat || !op->Left || !op->Right) return " ";
    const char* sym;
    switch (op->Code) {
    case opcPlus:
        sym = "+";
        break;
    case opcMinus:
        sym = "-";
        break;
    case opcMul:
        sym = "*";
        break;
    case opcDivFloat:
        sym = "/";
        break;
    default:
        return " ";
    }
    const TfsCustomVariable* var = target->LinkedRef;
    TfsExpressionNode* keep = nullptr;
    if (ReadsVariable(op->Left, var)) {
        keep = op->Right;
    } else if (ReadsVariable(op->Right, var) && (op->Code == opcPlus || op->Code == opcMul) &&
               var->TypeCode != fvtChar && var->TypeCode != fvtString &&
               var->TypeCode != fvtVariant) {
        keep = op->Left;
    }
    if (!keep) return " ";
    op->RemoveNode(keep);
    delete Root;
    Root = CurrentNode = keep;
    keep->ParentNode = nullptr;
    TypeCode = keep->TypeCode;
    TypeName = keep->TypeName;
    auto* d = dynamic_cast<TfsDesignatorNode*>(Root);
    ReadOnly = !(d && !d->Designator->ReadOnly);
    return sym;
}

// ---- designators -------------------------------------------------------------------------------

TfsDesignatorItem::~TfsDesignatorItem() {
    for (TfsExpression* e : Args) delete e;
}

namespace {
std::atomic<TfsDesignator::TfsLateBinder> g_lateBinder{nullptr};
} // namespace

void TfsDesignator::SetLateBinder(TfsLateBinder binder) noexcept {
    g_lateBinder.store(binder);
}

TfsDesignator::TfsDesignator(TfsScript* program, TfsScript* mainProgram)
    : TfsCustomVariable("", fvtVariant, ""), Program(program), MainProgram(mainProgram) {}

TfsDesignator::~TfsDesignator() {
    for (TfsDesignatorItem* i : Items) delete i;
}

TfsDesignatorItem* TfsDesignator::AddItem(TfsCustomVariable* member, std::string_view sourcePos) {
    auto item = std::make_unique<TfsDesignatorItem>();
    item->Member = member;
    item->SourcePos = sourcePos;
    Items.push_back(item.get());
    return item.release();
}

void TfsDesignator::RemoveLastItem() noexcept {
    if (Items.empty()) return;
    delete Items.back();
    Items.pop_back();
}

void TfsDesignator::Finish() {
    Kind = dkGeneric;
    LinkedRef = nullptr;
    FirstRef = nullptr;
    FirstHelper = nullptr;
    SecondRef = nullptr;
    for (TfsDesignatorItem* item : Items) {
        TfsCustomVariable* m = item->Member;
        item->UseCall =
            m && (m->ParamCount() > 0 || dynamic_cast<TfsCustomHelper*>(m) ||
                  dynamic_cast<TfsProcVariable*>(m) || dynamic_cast<TfsClassVariable*>(m));
        item->HasByRef = false;
        if (m)
            for (int i = 0; i < m->ParamCount(); ++i)
                if (m->Param(i)->ByReference) item->HasByRef = true;
    }
    TfsDesignatorItem* last = LastItem();
    if (!last || !last->Member) return;
    TypeCode = last->Member->TypeCode;
    TypeName = last->Member->TypeName;
    ReadOnly = last->Member->ReadOnly;
    if (TypeCode == fvtConstructor) {
        TypeCode = fvtClass;
        if (Items.size() >= 2 && Items[Items.size() - 2]->Member)
            TypeName = Items[Items.size() - 2]->Member->TypeName;
    }
    TfsCustomVariable* first = Items[0]->Member;
    auto* firstVar = dynamic_cast<TfsVariable*>(first);
    if (Items.size() == 1 && firstVar) {
        Kind = dkVariable;
    } else if (Items.size() == 2 && dynamic_cast<TfsStringVariable*>(first) &&
               dynamic_cast<TfsStringHelper*>(Items[1]->Member) && Items[1]->Args.size() == 1) {
        Kind = dkString;
        FirstRef = Items[1]->Args[0];
    } else if (Items.size() == 2 && firstVar && first->TypeCode == fvtArray && first->LinkedItem &&
               Items[1]->Member == first->LinkedItem) {
        Kind = dkArray;
        FirstHelper = first->LinkedItem;
        SecondRef = Items[1];
    }
    if (Kind != dkGeneric) LinkedRef = first;
}

void TfsDesignator::CopyFrom(TfsDesignator& other) {
    for (TfsDesignatorItem* i : Items) delete i;
    Items = std::move(other.Items);
    other.Items.clear();
    Kind = other.Kind;
    LinkedRef = other.LinkedRef;
    FirstRef = other.FirstRef;
    FirstHelper = other.FirstHelper;
    SecondRef = other.SecondRef;
    TypeCode = other.TypeCode;
    TypeName = other.TypeName;
    ReadOnly = other.ReadOnly;
    LinkedItem = other.LinkedItem;
    if (other.LateBindingSource) LateBindingSource = std::move(other.LateBindingSource);
}

void TfsDesignator::Bind() {
    TfsLateBinder binder = g_lateBinder.load();
    if (!binder) {
        LateBindingSource.reset();
        RaiseError("Late binding is not available");
    }
    binder(*this);
    LateBindingSource.reset();
}

Variant TfsDesignator::ReadValue() {
    if (LateBindingSource) Bind();
    return Evaluate(nullptr);
}

void TfsDesignator::WriteValue(const Variant& value) {
    if (LateBindingSource) Bind();
    Evaluate(&value);
}

Variant TfsDesignator::Evaluate(const Variant* toWrite) {
    Variant v = Variant::Null();
    TfsCustomVariable* parent = nullptr;
    const size_t n = Items.size();
    for (size_t i = 0; i < n; ++i) {
        TfsDesignatorItem* step = Items[i];
        TfsCustomVariable* m = step->Member;
        const bool last = i + 1 == n;
        const bool write = toWrite && last;
        if (auto* nested = dynamic_cast<TfsDesignator*>(m)) {
            parent = m;
            if (write)
                nested->WriteValue(*toWrite);
            else
                v = nested->ReadValue();
            continue;
        }
        if (!step->UseCall) {
            parent = m;
            if (write)
                m->WriteValue(*toWrite);
            else
                v = m->ReadValue();
            continue;
        }
        const int pc = m->ParamCount();
        TfsArgSlots slots(pc);
        const int na = std::min<int>(pc, static_cast<int>(step->Args.size()));
        for (int k = 0; k < na; ++k) {
            TfsExpression* arg = step->Args[static_cast<size_t>(k)];
            slots.Data()[k] = m->IsMacro ? Variant(arg->SourceText) : arg->ReadValue();
        }
        for (int k = na; k < pc; ++k) slots.Data()[k] = m->Param(k)->DefaultValue;
        TfsCallFrame frame(m, slots.Data(), pc);
        frame.ParentValue = &v;
        frame.ParentItem = parent;
        frame.Program = Program;
        frame.ResultWanted = last ? ResultWanted : true;
        if (write) {
            // The array element is written in place into the parent item; the copy read in
            // the previous step would force a copy of the whole array.
            if (dynamic_cast<TfsArrayHelper*>(m)) v = Variant::Null();
            m->WriteCall(frame, *toWrite);
        } else {
            Variant r = m->ReadCall(frame);
            v = std::move(r);
        }
        if (step->HasByRef)
            for (int k = 0; k < na; ++k)
                if (m->Param(k)->ByReference) {
                    TfsExpression* arg = step->Args[static_cast<size_t>(k)];
                    if (!arg->ReadOnly) arg->WriteValue(slots.Data()[k]);
                }
        parent = m;
    }
    return v;
}

// ---- kind 2: s[i] ------------------------------------------------------------------------------

namespace {

int64_t IndexOf(TfsExpression* e) {
    return e->ReadValue().ToInt64();
}

} // namespace

void RaiseStringIndexError(int64_t index, size_t length) {
    RaiseError("ERangeError", "String index " + std::to_string(index) + " out of range 1.." +
                                  std::to_string(length));
}

namespace {
struct CharTable {
    std::array<PtValue, 256> values;
    CharTable() {
        for (int c = 0; c < 256; ++c) {
            const char ch = static_cast<char>(c);
            char* s = pt_str_new(&ch, 1);
            *pt_str_refp(s) = -1; // a constant: never freed, never counted
            values[static_cast<size_t>(c)] = PtValue{};
            values[static_cast<size_t>(c)].vt = varString;
            values[static_cast<size_t>(c)].u.str = s;
        }
    }
};
} // namespace

Variant CharValue(unsigned char c) noexcept {
    static const CharTable table;
    return Variant::Adopt(table.values[c]);
}

namespace {

// Replaces byte index-1 of the string held in `slot` (a varString), copying it first when it
// is shared or a constant.
void PutChar(Variant& slot, int64_t index, char c) {
    std::string_view s = slot.StrView();
    if (index < 1 || static_cast<uint64_t>(index) > s.size())
        RaiseStringIndexError(index, s.size());
    char* p = slot.Raw().u.str;
    if (__atomic_load_n(pt_str_refp(p), __ATOMIC_ACQUIRE) != 1) {
        slot = Variant(s);
        p = slot.Raw().u.str;
    }
    p[index - 1] = c;
}

char FirstChar(const Variant& v) {
    if (v.Kind() == varString) {
        std::string_view s = v.StrView();
        return s.empty() ? '\0' : s[0];
    }
    std::string s = v.ToStr();
    return s.empty() ? '\0' : s[0];
}

} // namespace

Variant TfsStringDesignator::ReadValue() {
    if (LateBindingSource) {
        Bind();
        return Evaluate(nullptr);
    }
    const int64_t i = IndexOf(FirstRef);
    if (!LinkedRef->OnGetVarValue && LinkedRef->Value.Kind() == varString) {
        std::string_view s = LinkedRef->Value.StrView();
        if (i < 1 || static_cast<uint64_t>(i) > s.size()) RaiseStringIndexError(i, s.size());
        return CharValue(static_cast<unsigned char>(s[static_cast<size_t>(i - 1)]));
    }
    Variant v = LinkedRef->ReadValue();
    std::string s = v.ToStr();
    if (i < 1 || static_cast<uint64_t>(i) > s.size()) RaiseStringIndexError(i, s.size());
    return CharValue(static_cast<unsigned char>(s[static_cast<size_t>(i - 1)]));
}

void TfsStringDesignator::WriteValue(const Variant& value) {
    if (LateBindingSource) {
        Bind();
        Evaluate(&value);
        return;
    }
    const int64_t i = IndexOf(FirstRef);
    const char c =
        value.Kind() == varString ? FirstChar(value) : FirstChar(Variant(value.ToStrLoose()));
    if (LinkedRef->Value.Kind() != varString)
        LinkedRef->Value = Variant(LinkedRef->Value.ToStrLoose());
    PutChar(LinkedRef->Value, i, c);
}

// ---- kind 3: a[i, ...] -------------------------------------------------------------------------

Variant TfsArrayDesignator::ReadValue() {
    if (LateBindingSource) {
        Bind();
        return Evaluate(nullptr);
    }
    const int pc = FirstHelper->ParamCount();
    TfsArgSlots slots(pc);
    const int na = std::min<int>(pc, static_cast<int>(SecondRef->Args.size()));
    for (int k = 0; k < na; ++k)
        slots.Data()[k] = SecondRef->Args[static_cast<size_t>(k)]->ReadValue();
    TfsCallFrame frame(FirstHelper, slots.Data(), pc);
    frame.ParentItem = LinkedRef;
    frame.ParentValue = &LinkedRef->Value;
    frame.Program = Program;
    return FirstHelper->ReadCall(frame);
}

void TfsArrayDesignator::WriteValue(const Variant& value) {
    if (LateBindingSource) {
        Bind();
        Evaluate(&value);
        return;
    }
    const int pc = FirstHelper->ParamCount();
    TfsArgSlots slots(pc);
    const int na = std::min<int>(pc, static_cast<int>(SecondRef->Args.size()));
    for (int k = 0; k < na; ++k)
        slots.Data()[k] = SecondRef->Args[static_cast<size_t>(k)]->ReadValue();
    TfsCallFrame frame(FirstHelper, slots.Data(), pc);
    frame.ParentItem = LinkedRef;
    frame.Program = Program;
    FirstHelper->WriteCall(frame, value);
}

// ---- element helpers ---------------------------------------------------------------------------

TfsArrayHelper::TfsArrayHelper(std::string_view name, std::string_view typeName,
                               TfsVarType typeCode, int dims, int required)
    : TfsCustomHelper(name, typeCode, typeName) {
    for (int i = 0; i < dims; ++i)
        AddParam(
            new TfsParamItem("Index" + std::to_string(i), fvtInt, "Integer", i >= required, false));
}

namespace {

// The element of `array` at the frame's indexes; null when the value is no array or has
// more than three dimensions.
template <typename A> auto* ElementOf(A& array, const TfsCallFrame& frame, bool mut) {
    using Ptr = decltype(&array.ArrayAtMut(nullptr, 0));
    if (!array.IsArray()) return Ptr(nullptr);
    const int dims = array.ArrayDims();
    if (dims < 1 || dims > 3) return Ptr(nullptr);
    int32_t index[3];
    for (int k = 0; k < dims; ++k) index[k] = frame.Param(k).ToInt();
    if (mut) return &array.ArrayAtMut(index, dims);
    return const_cast<Ptr>(&array.ArrayAt(index, dims));
}

} // namespace

Variant TfsArrayHelper::ReadCall(TfsCallFrame& frame) {
    const Variant* arr = frame.ParentValue;
    if ((!arr || !arr->IsArray()) && frame.ParentItem) arr = &frame.ParentItem->Value;
    if (!arr) return Variant::Null();
    Variant& a = const_cast<Variant&>(*arr);
    Variant* e = ElementOf(a, frame, false);
    return e ? *e : Variant::Null();
}

void TfsArrayHelper::WriteCall(TfsCallFrame& frame, const Variant& value) {
    if (!frame.ParentItem) return;
    Variant* e = ElementOf(frame.ParentItem->Value, frame, true);
    if (e) *e = value;
}

TfsStringHelper::TfsStringHelper() : TfsCustomHelper("__StringHelper", fvtChar, "Char") {
    AddParam(new TfsParamItem("Index", fvtInt, "Integer", false, false));
}

Variant TfsStringHelper::ReadCall(TfsCallFrame& frame) {
    const int64_t i = frame.Param(0).ToInt64();
    const Variant& p = *frame.ParentValue;
    if (p.Kind() == varString) {
        std::string_view s = p.StrView();
        if (i < 1 || static_cast<uint64_t>(i) > s.size()) RaiseStringIndexError(i, s.size());
        return CharValue(static_cast<unsigned char>(s[static_cast<size_t>(i - 1)]));
    }
    std::string s = p.ToStr();
    if (i < 1 || static_cast<uint64_t>(i) > s.size()) RaiseStringIndexError(i, s.size());
    return CharValue(static_cast<unsigned char>(s[static_cast<size_t>(i - 1)]));
}

void TfsStringHelper::WriteCall(TfsCallFrame& frame, const Variant& value) {
    const int64_t i = frame.Param(0).ToInt64();
    Variant s(frame.ParentValue->ToStr());
    PutChar(s, i, FirstChar(value.Kind() == varString ? value : Variant(value.ToStr())));
    if (frame.ParentItem) frame.ParentItem->WriteValue(s);
}

void DeclareElementHelpers(TfsScript& scope) {
    scope.AddItem("__StringHelper", new TfsStringHelper);
    scope.AddItem("__ArrayHelper",
                  new TfsArrayHelper("__ArrayHelper", "Variant", fvtVariant, 3, 1));
}

} // namespace pt
