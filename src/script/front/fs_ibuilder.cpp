#include "script/front/fs_ibuilder.h"

#include "script/front/fs_iilparser.h"
#include "script/front/fs_iparser.h"
#include "script/front/fs_xml.h"
#include "script/runtime/fs_errors.h"
#include "script/runtime/fs_objects.h"

#include <memory>

namespace pt {

namespace {

std::string LowerName(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return r;
}

bool Is(const TfsXMLItem* item, std::string_view lowerName) {
    return item && SameName(item->Name, lowerName);
}

std::string TextOf(const TfsXMLItem* item) {
    return item->Prop("text");
}

std::string Quoted(std::string_view s) {
    return "'" + std::string(s) + "'";
}

[[noreturn]] void Fail(std::string message) {
    RaiseError(std::move(message));
}

TfsXMLItem* Child(TfsXMLItem* e, int i) {
    return i >= 0 && i < e->Count() ? e->Items(i) : nullptr;
}

} // namespace

TfsILBuilder::TfsILBuilder(TfsScript& owner, bool needDeclareVars, const TfsParser* scanner,
                           const TfsXMLItem* grammarTypes)
    : owner_(owner), needDeclareVars_(needDeclareVars), scanner_(scanner),
      grammarTypes_(grammarTypes) {}

void TfsILBuilder::Note(const TfsXMLItem* element) {
    errorPos_ = element->Prop("pos");
}

// ---- program and statements --------------------------------------------------------------------

void TfsILBuilder::BuildProgram(TfsXMLItem* root) {
    withList_.clear();
    owner_.ErrorUnitName.clear();
    unitName_.clear();
    try {
        BuildElement(root, &owner_);
        owner_.ErrorLocation.clear();
    } catch (const EScriptError& e) {
        owner_.ErrorText = e.message();
        owner_.ErrorLocation = errorPos_;
        owner_.ErrorUnitName = unitName_;
        withList_.clear();
    }
}

void TfsILBuilder::DeclareRoutinesIn(TfsXMLItem* element, TfsScript* script) {
    for (int i = 0; i < element->Count(); ++i) {
        TfsXMLItem* c = element->Items(i);
        if (Is(c, "procedure") || Is(c, "function"))
            DeclareRoutine(c, script);
        else if (Is(c, "compoundstmt"))
            DeclareRoutinesIn(c, script);
    }
}

void TfsILBuilder::BuildElement(TfsXMLItem* element, TfsScript* script) {
    TfsXMLItem* saved = programElement_;
    programElement_ = element;
    DeclareRoutinesIn(element, script);
    for (int i = 0; i < element->Count(); ++i)
        BuildStatement(element->Items(i), script, script->Statements.get());
    programElement_ = saved;
}

void TfsILBuilder::BuildChildren(TfsXMLItem* element, TfsScript* script, TfsStatement* list) {
    for (int i = 0; i < element->Count(); ++i) BuildStatement(element->Items(i), script, list);
}

TfsStatement* TfsILBuilder::Record(TfsStatement* stmt, TfsStatement* list) {
    list->Add(stmt);
    return stmt;
}

void TfsILBuilder::BuildStatement(TfsXMLItem* element, TfsScript* script, TfsStatement* list) {
    const std::string name = LowerName(element->Name);
    const std::string pos = element->Prop("pos");
    errorPos_ = pos;
    bool isStatement = true;

    if (name == "assignstmt") {
        BuildAssignment(element, script, list);
    } else if (name == "callstmt") {
        auto* s = new TfsCallStmt(script, pos, unitName_);
        Record(s, list);
        s->Target = BuildDesignator(Child(element, 0), script);
        if (TfsXMLItem* m = Child(element, 1)) {
            s->Modifier = TextOf(m);
            if (s->Target->ReadOnly) Fail("Left side cannot be assigned to");
        }
    } else if (name == "ifstmt") {
        auto* s = new TfsIfStmt(script, pos, unitName_);
        Record(s, list);
        s->Condition = BuildExpression(Child(element, 0), script);
        for (int i = 1; i < element->Count(); ++i) {
            TfsXMLItem* c = element->Items(i);
            if (Is(c, "thenstmt"))
                BuildChildren(c, script, s);
            else if (Is(c, "elsestmt"))
                BuildChildren(c, script, s->ElseBranch.get());
        }
    } else if (name == "casestmt") {
        auto* s = new TfsCaseStmt(script, pos, unitName_);
        Record(s, list);
        s->Condition = BuildExpression(Child(element, 0), script);
        const int n = element->Count();
        for (int i = 1; i < n; ++i) {
            TfsXMLItem* c = element->Items(i);
            if (Is(c, "caseselector")) {
                if (c->Count() != 2) continue;
                auto* sel = new TfsCaseSelector(script, c->Prop("pos"), unitName_);
                s->Add(sel);
                sel->Values = BuildSet(c->Items(0), script);
                BuildStatement(c->Items(1), script, sel);
            } else if (i == n - 1) {
                BuildStatement(c, script, s->ElseBranch.get());
            }
        }
    } else if (name == "forstmt" || name == "vbforstmt") {
        BuildFor(element, script, list, name == "vbforstmt");
    } else if (name == "cppforstmt") {
        auto* s = new TfsCppForStmt(script, pos, unitName_);
        Record(s, list);
        if (TfsXMLItem* c = Child(element, 0)) BuildStatement(c, script, s->InitList.get());
        s->Condition = BuildExpression(Child(element, 1), script);
        if (TfsXMLItem* c = Child(element, 2)) BuildStatement(c, script, s->StepList.get());
        if (TfsXMLItem* c = Child(element, 3)) BuildStatement(c, script, s);
    } else if (name == "whilestmt") {
        auto* s = new TfsWhileStmt(script, pos, unitName_);
        Record(s, list);
        s->Condition = BuildExpression(Child(element, 0), script);
        if (TfsXMLItem* c = Child(element, 1)) BuildStatement(c, script, s);
    } else if (name == "repeatstmt") {
        auto* s = new TfsRepeatStmt(script, pos, unitName_);
        Record(s, list);
        int last = element->Count() - 1;
        if (last >= 0 && Is(element->Items(last), "inverse")) {
            s->Inverse = true;
            --last;
        }
        for (int i = 0; i < last; ++i) BuildStatement(element->Items(i), script, s);
        s->Condition = BuildExpression(Child(element, last), script);
    } else if (name == "trystmt") {
        auto* s = new TfsTryStmt(script, pos, unitName_);
        Record(s, list);
        for (int i = 0; i < element->Count(); ++i) {
            TfsXMLItem* c = element->Items(i);
            if (Is(c, "exceptstmt")) {
                s->IsExcept = true;
                BuildChildren(c, script, s->Handler.get());
            } else if (Is(c, "finallystmt")) {
                BuildChildren(c, script, s->Handler.get());
            } else {
                BuildStatement(c, script, s);
            }
        }
    } else if (name == "break") {
        Record(new TfsBreakStmt(script, pos, unitName_), list);
    } else if (name == "continue") {
        Record(new TfsContinueStmt(script, pos, unitName_), list);
    } else if (name == "exit") {
        Record(new TfsExitStmt(script, pos, unitName_), list);
    } else if (name == "return") {
        if (element->Count() > 0) {
            TfsXMLItem* first = element->Items(0);
            const std::string exprPos = first->Prop("pos");
            auto* dsgn = new TfsXMLItem;
            dsgn->Name = "dsgn";
            dsgn->SetProp("pos", exprPos);
            TfsXMLItem* node = dsgn->Add();
            node->Name = "node";
            node->SetProp("text", "Result");
            node->SetProp("pos", exprPos);
            element->InsertItem(0, dsgn);
            BuildAssignment(element, script, list);
        }
        errorPos_ = pos;
        Record(new TfsExitStmt(script, pos, unitName_), list);
    } else if (name == "with") {
        BuildWith(element, script, list);
    } else if (name == "delete") {
        auto* s = new TfsCallStmt(script, pos, unitName_);
        Record(s, list);
        s->Target = BuildDesignator(Child(element, 0), script, TDesignatorMode::Deletion);
    } else if (name == "compoundstmt") {
        isStatement = false;
        BuildChildren(element, script, list);
    } else if (name == "uses") {
        isStatement = false;
        BuildUses(element, script);
    } else if (name == "var") {
        isStatement = false;
        DeclareVariables(element, script, list);
    } else if (name == "const") {
        isStatement = false;
        DeclareConstant(element, script);
    } else if (name == "procedure" || name == "function") {
        isStatement = false;
        int at = element->Find("name");
        if (at < 0) Fail("Identifier expected");
        errorPos_ = element->Items(at)->Prop("pos");
        auto* routine =
            dynamic_cast<TfsProcVariable*>(FindVariable(script, TextOf(element->Items(at))));
        if (!routine) Fail("Undeclared identifier: " + Quoted(TextOf(element->Items(at))));
        BuildElement(element, routine->Body());
    } else {
        isStatement = false;
    }
    if (isStatement) owner_.RecordCodeLine(unitName_, pos);
}

void TfsILBuilder::BuildAssignment(TfsXMLItem* element, TfsScript* script, TfsStatement* list) {
    if (element->Count() > 0 && Is(element->Items(0), "assignstmt")) {
        BuildAssignment(element->Items(0), script, list);
        return;
    }
    std::string modifier = " ";
    std::unique_ptr<TfsDesignator> target(BuildDesignator(Child(element, 0), script));
    int src = 1;
    if (TfsXMLItem* m = Child(element, 1); Is(m, "modificator")) {
        modifier = TextOf(m);
        if (modifier.empty()) modifier = " ";
        src = 2;
    }
    TfsXMLItem* srcElement = Child(element, src);
    if (!srcElement) Fail("Expression expected");
    std::unique_ptr<TfsExpression> source(BuildExpression(srcElement, script));
    if (target->ReadOnly) Fail("Left side cannot be assigned to");
    CheckAssignable(target.get(), source.get(), script);
    if (modifier == " ") modifier = source->TryCompound(target.get());

    const std::string pos = element->Prop("pos");
    TfsAssignmentStmt* s;
    switch (modifier[0]) {
    case '*':
        s = new TfsAssignMulStmt(script, pos, unitName_);
        break;
    case '+':
        s = new TfsAssignPlusStmt(script, pos, unitName_);
        break;
    case '-':
        s = new TfsAssignMinusStmt(script, pos, unitName_);
        break;
    case '/':
        s = new TfsAssignDivStmt(script, pos, unitName_);
        break;
    default:
        s = new TfsAssignmentStmt(script, pos, unitName_);
        break;
    }
    s->Target = target.release();
    s->Source = source.release();
    list->Add(s);
    s->Prepare();
}

void TfsILBuilder::BuildFor(TfsXMLItem* element, TfsScript* script, TfsStatement* list, bool vb) {
    const std::string pos = element->Prop("pos");
    TfsStatement* stmt;
    if (vb)
        stmt = new TfsVbForStmt(script, pos, unitName_);
    else
        stmt = new TfsForStmt(script, pos, unitName_);
    list->Add(stmt);

    TfsXMLItem* counterElement = Child(element, 0);
    if (!counterElement) Fail("Identifier expected");
    Note(counterElement);
    TfsCustomVariable* item = FindVariable(script, TextOf(counterElement));
    auto* counter = dynamic_cast<TfsVariable*>(item);
    if (!counter || !(counter->TypeCode == fvtInt || counter->TypeCode == fvtFloat ||
                      counter->TypeCode == fvtVariant || counter->TypeCode == fvtInt64))
        Fail("For loop variable must be numeric variable");

    std::unique_ptr<TfsExpression> start(BuildExpression(Child(element, 1), script));
    CheckAssignable(counter, start.get(), script);
    int next = 2;
    bool down = false;
    if (!vb && Is(Child(element, 2), "downto")) {
        down = true;
        next = 3;
    }
    std::unique_ptr<TfsExpression> end(BuildExpression(Child(element, next), script));
    CheckAssignable(counter, end.get(), script);
    ++next;
    std::unique_ptr<TfsExpression> step;
    if (vb && Is(Child(element, next), "expr")) {
        step.reset(BuildExpression(Child(element, next), script));
        CheckAssignable(counter, step.get(), script);
        ++next;
    }
    if (vb) {
        auto* s = static_cast<TfsVbForStmt*>(stmt);
        s->Counter = counter;
        s->StartValue = start.release();
        s->EndValue = end.release();
        s->Step = step.release();
    } else {
        auto* s = static_cast<TfsForStmt*>(stmt);
        s->Counter = counter;
        s->StartValue = start.release();
        s->EndValue = end.release();
        s->Down = down;
    }
    if (TfsXMLItem* body = Child(element, next)) BuildStatement(body, script, stmt);
}

void TfsILBuilder::BuildWith(TfsXMLItem* element, TfsScript* script, TfsStatement* list) {
    const int n = element->Count();
    const size_t mark = withList_.size();
    for (int i = 0; i + 1 < n; ++i) {
        TfsXMLItem* c = element->Items(i);
        std::unique_ptr<TfsDesignator> d(BuildDesignator(c, script));
        if (d->TypeCode != fvtClass && d->TypeCode != fvtVariant) {
            Note(c);
            Fail("Class type required");
        }
        std::string name;
        for (int k = 0;; ++k) {
            name = "_WithList_" + std::to_string(k);
            bool used = script->LookupLocal(name) != nullptr;
            for (const auto& w : withList_)
                if (SameName(w.first, name)) used = true;
            if (!used) break;
        }
        auto* var = new TfsVariable(name, d->TypeCode, d->TypeName);
        script->AddItem(name, var);
        auto* s = new TfsWithStmt(script, element->Prop("pos"), unitName_);
        list->Add(s);
        s->Variable = var;
        s->Target = d.release();
        withList_.emplace_back(name, s);
    }
    if (n > 0) BuildStatement(element->Items(n - 1), script, list);
    withList_.resize(mark);
}

void TfsILBuilder::BuildUses(TfsXMLItem* element, TfsScript* script) {
    const std::string saved = unitName_;
    unitName_ = element->Prop("unit");
    if (owner_.OnGetILUnit) {
        std::string text;
        owner_.OnGetILUnit(script, unitName_, text);
        if (!text.empty()) {
            TfsXMLDocument doc;
            doc.LoadFromString(text);
            BuildElement(doc.Root(), script);
        }
    } else {
        for (int i = 0; i < element->Count(); ++i) BuildElement(element->Items(i), script);
    }
    unitName_ = saved;
}

// ---- declarations ------------------------------------------------------------------------------

void TfsILBuilder::CheckRedeclared(TfsScript* script, const std::string& name) {
    if (script->LookupLocal(name)) Fail("Identifier redeclared: " + Quoted(name));
}

void TfsILBuilder::DeclareVariables(TfsXMLItem* element, TfsScript* script, TfsStatement* list) {
    for (int i = 0; i < element->Count(); ++i) {
        TfsXMLItem* c = element->Items(i);
        Note(c);
        if (!Is(c, "ident")) continue;
        const std::string name = TextOf(c);
        CheckRedeclared(script, name);
        TfsCustomVariable* v = CreateVariable(element, script, false, false, list, name);
        script->AddItem(name, v);
    }
}

void TfsILBuilder::DeclareConstant(TfsXMLItem* element, TfsScript* script) {
    TfsXMLItem* nameElement = Child(element, 0);
    if (!nameElement) Fail("Identifier expected");
    Note(nameElement);
    const std::string name = TextOf(nameElement);
    CheckRedeclared(script, name);
    TfsXMLItem* exprElement = Child(element, 1);
    if (!exprElement) Fail("Expression expected");
    std::unique_ptr<TfsExpression> e(BuildExpression(exprElement, script));
    Variant value = e->ReadValue();
    auto v = std::make_unique<TfsVariable>(name, e->TypeCode, e->TypeName);
    v->WriteValue(value);
    v->ReadOnly = true;
    v->SourcePos = nameElement->Prop("pos");
    v->SourceUnit = unitName_;
    script->AddItem(name, v.release());
}

void TfsILBuilder::DeclareRoutine(TfsXMLItem* element, TfsScript* script) {
    std::string name, typeName;
    TfsVarType code = fvtVariant;
    bool isFunction;
    if (Is(element, "procedure")) {
        TfsXMLItem* n = Child(element, 0);
        if (!n) Fail("Identifier expected");
        Note(n);
        name = TextOf(n);
        CheckRedeclared(script, name);
        code = fvtInt;
        isFunction = false;
    } else {
        bool named = false;
        for (int i = 0; i < element->Count(); ++i) {
            TfsXMLItem* c = element->Items(i);
            if (Is(c, "type")) {
                Note(c);
                typeName = TextOf(c);
                code = ResolveType(typeName, script);
            } else if (Is(c, "name") && !named) {
                Note(c);
                name = TextOf(c);
                named = true;
                CheckRedeclared(script, name);
            }
        }
        isFunction = !SameName(typeName, "void");
    }
    auto* routine = new TfsProcVariable(name, code, typeName, script, isFunction);
    routine->SourcePos = element->Prop("pos");
    routine->SourceUnit = unitName_;
    routine->Body()->LateBinding = owner_.LateBinding;
    script->AddItem(name, routine);
    for (int i = 0; i < element->Count(); ++i)
        if (Is(element->Items(i), "parameters")) DeclareParameters(element->Items(i), routine);
}

void TfsILBuilder::DeclareParameters(TfsXMLItem* element, TfsProcVariable* routine) {
    bool groupByRef = false;
    for (int i = 0; i < element->Count(); ++i) {
        TfsXMLItem* group = element->Items(i);
        if (Is(group, "varparams")) {
            groupByRef = true;
            continue;
        }
        if (!Is(group, "var")) continue;
        bool nextByRef = false;
        for (int k = 0; k < group->Count(); ++k) {
            TfsXMLItem* c = group->Items(k);
            if (Is(c, "varparam")) {
                nextByRef = true;
            } else if (Is(c, "ident")) {
                Note(c);
                const std::string name = TextOf(c);
                CheckRedeclared(routine->Body(), name);
                auto* p = static_cast<TfsParamItem*>(CreateVariable(
                    group, routine->Body(), groupByRef || nextByRef, true, nullptr, name));
                p->DefaultValue = p->Value;
                routine->AddParam(p);
                nextByRef = false;
            }
        }
        groupByRef = false;
    }
}

TfsCustomVariable* TfsILBuilder::CreateVariable(TfsXMLItem* element, TfsScript* script,
                                                bool byReference, bool isParameter,
                                                TfsStatement* list, const std::string& name) {
    const std::string declaredAt = errorPos_;
    std::string typeName = "Variant";
    bool cLike = false;
    const int typeAt = element->Find("type");
    if (typeAt >= 0) {
        typeName = TextOf(element->Items(typeAt));
        Note(element->Items(typeAt));
        cLike = typeAt == 0;
    }
    TfsVarType code = ResolveType(typeName, script);
    Variant initial;
    switch (code) {
    case fvtBool:
        initial = Variant(false);
        break;
    case fvtChar:
    case fvtString:
        initial = Variant(std::string_view());
        break;
    case fvtInt:
    case fvtFloat:
    case fvtClass:
    case fvtInt64:
        initial = Variant(int32_t{0});
        break;
    default:
        initial = Variant::Null();
        break;
    }

    int from = -1;
    for (int i = 0; i < element->Count(); ++i)
        if (Is(element->Items(i), "ident") && SameName(TextOf(element->Items(i)), name)) {
            from = i;
            break;
        }
    TfsArrayHelper* helper = nullptr;
    TfsXMLItem* init = nullptr;
    if (from >= 0)
        for (int i = from + 1; i < element->Count(); ++i) {
            TfsXMLItem* c = element->Items(i);
            if (cLike && Is(c, "ident")) break;
            if (Is(c, "array")) {
                helper = DeclareArray(c, script, typeName, code, initial);
                code = fvtArray;
            } else if (Is(c, "init")) {
                init = c;
            }
        }
    if (init && !list) {
        TfsXMLItem* exprElement = Child(init, 0);
        if (!exprElement) Fail("Expression expected");
        std::unique_ptr<TfsExpression> e(BuildExpression(exprElement, script));
        if (!AcceptsAssignment(code, typeName, e->TypeCode, e->TypeName, script))
            Fail("Incompatible types: " + Quoted(TypeNameText(code, typeName)) + ", " +
                 Quoted(TypeNameText(e->TypeCode, e->TypeName)));
        initial = ConvertForStore(code, e->ReadValue());
    }

    std::unique_ptr<TfsCustomVariable> item;
    if (isParameter)
        item = std::make_unique<TfsParamItem>(name, code, typeName, init != nullptr, byReference);
    else if (code == fvtChar || code == fvtString)
        item = std::make_unique<TfsStringVariable>(name, code, typeName);
    else
        item = std::make_unique<TfsVariable>(name, code, typeName);
    item->Value = initial;
    item->LinkedItem = helper;
    item->SourcePos = declaredAt;
    item->SourceUnit = unitName_;
    item->OnGetVarValue = owner_.OnGetVarValue;

    if (init && list) {
        TfsXMLItem* exprElement = Child(init, 0);
        if (!exprElement) Fail("Expression expected");
        auto* s = new TfsAssignmentStmt(script, element->Prop("pos"), unitName_);
        list->Add(s);
        auto* d = new TfsVariableDesignator(script, &owner_);
        s->Target = d;
        d->AddItem(item.get(), element->Prop("pos"));
        d->Finish();
        s->Source = BuildExpression(exprElement, script);
        CheckAssignable(item.get(), s->Source, script);
        s->Prepare();
    }
    return item.release();
}

TfsArrayHelper* TfsILBuilder::DeclareArray(TfsXMLItem* element, TfsScript* script,
                                           const std::string& typeName, TfsVarType typeCode,
                                           Variant& initial) {
    std::vector<std::pair<int32_t, int32_t>> bounds;
    for (int i = 0; i < element->Count(); ++i) {
        TfsXMLItem* dim = element->Items(i);
        if (!Is(dim, "dim")) continue;
        std::vector<int32_t> values;
        for (int k = 0; k < dim->Count() && values.size() < 2; ++k) {
            if (!Is(dim->Items(k), "expr")) continue;
            std::unique_ptr<TfsExpression> e(BuildExpression(dim->Items(k), script));
            values.push_back(e->ReadValue().ToInt());
        }
        if (values.empty()) continue;
        if (values.size() == 2)
            bounds.emplace_back(values[0], values[1]);
        else
            bounds.emplace_back(0, values[0] - 1);
    }
    if (bounds.empty()) bounds.emplace_back(0, 0);
    if (bounds.size() > 3) Fail("Too many array dimensions");
    for (const auto& b : bounds)
        if (b.second < b.first - 1 || int64_t(b.second) - b.first >= (int64_t(1) << 24))
            Fail("Invalid array bounds");
    initial = Variant::CreateArray(varVariant, bounds);
    auto* helper = new TfsArrayHelper("", typeName, typeCode, static_cast<int>(bounds.size()),
                                      static_cast<int>(bounds.size()));
    script->AddItem("", helper);
    return helper;
}

TfsVarType TfsILBuilder::ResolveType(std::string& typeName, TfsScript* script) {
    auto alias = [&](const TfsXMLItem* types) {
        if (!types) return false;
        for (int i = 0; i < types->Count(); ++i)
            if (SameName(types->Items(i)->Name, typeName)) {
                typeName = types->Items(i)->Prop("type");
                return true;
            }
        return false;
    };
    const TfsXMLItem* types = nullptr;
    if (programElement_) {
        int at = programElement_->Find("types");
        if (at >= 0) types = programElement_->Items(at);
    }
    if (!alias(types)) alias(grammarTypes_);
    const TfsVarType code = TypeCodeOf(typeName, script);
    if (code == fvtClass && !script->LookupClass(typeName))
        Fail("Unknown type: " + Quoted(typeName));
    return code;
}

TfsCustomVariable* TfsILBuilder::FindVariable(TfsScript* script, const std::string& name) {
    if (TfsCustomVariable* v = script->Lookup(name)) return v;
    if (needDeclareVars_) Fail("Undeclared identifier: " + Quoted(name));
    auto* v = new TfsVariable(name, fvtVariant, "");
    owner_.AddItem(name, v);
    return v;
}

// ---- expressions -------------------------------------------------------------------------------

TfsExpression* TfsILBuilder::BuildExpression(TfsXMLItem* element, TfsScript* script) {
    if (!element) Fail("Expression expected");
    auto e = std::make_unique<TfsExpression>(script);
    e->SourcePos = element->Prop("pos");
    AddExpressionContent(e.get(), element, script);
    if (scanner_) {
        const TPoint a = ParseSourcePos(element->Prop("pos"));
        const TPoint b = ParseSourcePos(element->Prop("pos1"));
        const int p0 = scanner_->OffsetOf(a.x, a.y);
        const int p1 = scanner_->OffsetOf(b.x, b.y);
        if (p0 >= 1 && p1 >= p0 && p1 <= scanner_->Size() + 1)
            e->SourceText = std::string(
                scanner_->Text().substr(static_cast<size_t>(p0 - 1), static_cast<size_t>(p1 - p0)));
    }
    const std::string error = e->Finish();
    if (!error.empty()) {
        errorPos_ = error;
        Fail("Incompatible types");
    }
    return e.release();
}

void TfsILBuilder::AddExpressionContent(TfsExpression* e, TfsXMLItem* element, TfsScript* script) {
    const int n = element->Count();
    for (int i = 0; i < n; ++i) {
        TfsXMLItem* c = element->Items(i);
        Note(c);
        e->SourcePos = errorPos_;
        const std::string name = LowerName(c->Name);
        if (name == "op") {
            const std::string text = LowerName(TextOf(c));
            if (text != ")" && i == n - 1) continue;
            e->AddOperator(text);
        } else if (name == "number" || name == "string") {
            e->AddConstant(ConstantFromText(TextOf(c)));
        } else if (name == "dsgn") {
            e->AddDesignator(BuildDesignator(c, script));
        } else if (name == "set") {
            e->AddSet(BuildSet(c, script));
        } else if (name == "new") {
            e->AddDesignator(BuildDesignator(Child(c, 0), script, TDesignatorMode::Creation));
        } else if (name == "expr") {
            AddExpressionContent(e, c, script);
        }
    }
}

TfsSetExpression* TfsILBuilder::BuildSet(TfsXMLItem* element, TfsScript* script) {
    auto set = std::make_unique<TfsSetExpression>();
    for (int i = 0; i < element->Count(); ++i) {
        TfsXMLItem* c = element->Items(i);
        if (Is(c, "expr"))
            set->Add(BuildExpression(c, script));
        else if (Is(c, "range"))
            set->Add(nullptr);
    }
    return set.release();
}

void TfsILBuilder::CheckAssignable(const TfsCustomVariable* target, const TfsExpression* e,
                                   const TfsScript* script) {
    if (!AcceptsAssignment(target->TypeCode, target->TypeName, e->TypeCode, e->TypeName, script))
        Fail("Incompatible types: " + Quoted(TypeNameText(target->TypeCode, target->TypeName)) +
             ", " + Quoted(TypeNameText(e->TypeCode, e->TypeName)));
}

// ---- designators -------------------------------------------------------------------------------

namespace {

std::unique_ptr<TfsXMLItem> CopyOf(const TfsXMLItem* element) {
    auto copy = std::make_unique<TfsXMLItem>();
    copy->CopyFrom(element);
    return copy;
}

std::string ClassNameOfValue(const Variant& v) {
    const int32_t handle = v.ToInt();
    TObject* o = nullptr;
    try {
        o = TfsObjectTable::Instance().Resolve(static_cast<uint32_t>(handle));
    } catch (const EScriptError&) {
        return {}; // a stale handle names no class
    }
    if (!o) return {};
    return std::string(o->ClassName());
}

} // namespace

bool TfsILBuilder::ResolveFromWith(const std::string& name, TfsDesignator* d, TfsXMLItem* element,
                                   TfsScript* script, bool& lateBound) {
    lateBound = false;
    for (auto it = withList_.rbegin(); it != withList_.rend(); ++it) {
        TfsCustomVariable* wv = script->LookupLocal(it->first);
        if (!wv) continue;
        if (wv->TypeCode == fvtVariant) {
            if (script->Lookup(name)) return false;
            d->LastItem()->Member = wv;
            d->Finish();
            auto source = CopyOf(element);
            auto* node = new TfsXMLItem;
            node->Name = "node";
            node->SetProp("text", wv->Name());
            node->SetProp("pos", d->LastItem()->SourcePos);
            source->InsertItem(0, node);
            d->LateBindingSource = std::move(source);
            lateBound = true;
            return true;
        }
        TfsClassVariable* cls = script->LookupClass(wv->TypeName);
        if (!cls) Fail("Unknown type: " + Quoted(wv->TypeName));
        TfsCustomVariable* member = cls->FindMember(name);
        if (!member) continue;
        TfsDesignatorItem* item = d->LastItem();
        auto* withItem = new TfsDesignatorItem;
        withItem->Member = wv;
        withItem->SourcePos = item->SourcePos;
        d->Items.insert(d->Items.end() - 1, withItem);
        item->Member = member;
        return true;
    }
    return false;
}

TfsDesignator* TfsILBuilder::BuildDesignator(TfsXMLItem* element, TfsScript* script,
                                             TDesignatorMode mode) {
    if (!element) Fail("Identifier expected");
    auto d = std::make_unique<TfsDesignator>(script, &owner_);
    d->LateBindingNeedsDeclarations = needDeclareVars_;
    const int n = element->Count();
    for (int i = 0; i < n; ++i) {
        TfsXMLItem* c = element->Items(i);
        Note(c);
        if (Is(c, "node")) {
            const std::string t = TextOf(c);
            if (d->Items.empty()) {
                TfsDesignatorItem* item = d->AddItem(nullptr, errorPos_);
                bool lateBound = false;
                if (!ResolveFromWith(t, d.get(), element, script, lateBound))
                    item->Member = FindVariable(script, t);
                if (lateBound) return d.release();
                if (mode == TDesignatorMode::Creation) {
                    auto* cls = dynamic_cast<TfsClassVariable*>(item->Member);
                    if (!cls) Fail("Class type required");
                    TfsCustomVariable* create = cls->FindMember("Create");
                    if (!create) Fail("Undeclared identifier: 'Create'");
                    d->AddItem(create, errorPos_);
                }
                continue;
            }
            TfsDesignatorItem* prev = d->LastItem();
            TfsCustomVariable* p = prev->Member;
            auto* method = dynamic_cast<TfsMethodHelper*>(p);
            const bool indexedMethod = method && method->IsIndexProperty() && !prev->IsIndexed;
            TfsVarType k = p->TypeCode;
            TfsDesignatorItem* item = d->AddItem(nullptr, errorPos_);
            if (k == fvtVariant && !indexedMethod) {
                const Variant& value = p->Value;
                if (value.IsNull()) {
                    d->RemoveLastItem();
                    d->Finish();
                    d->LateBindingSource = CopyOf(element);
                    return d.release();
                }
                if (value.IsString()) {
                    k = fvtString;
                } else if (value.Kind() == varDispatch) {
                    Fail("Automation objects are not supported");
                } else if (value.IsArray()) {
                    if (t != "[") Fail("Index required");
                    item->Member = FindVariable(script, "__ArrayHelper");
                    continue;
                } else {
                    p->TypeName = ClassNameOfValue(value);
                    k = fvtClass;
                }
            }
            if (indexedMethod) {
                prev->IsIndexed = true;
                d->RemoveLastItem();
                errorPos_ = prev->SourcePos;
                if (t != "[") Fail("Index required");
            } else if (k == fvtString) {
                if (t != "[") Fail("Strings doesn't have properties or methods");
                item->Member = FindVariable(script, "__StringHelper");
            } else if (k == fvtClass) {
                TfsClassVariable* cls = script->LookupClass(p->TypeName);
                if (!cls) Fail("Unknown type: " + Quoted(p->TypeName));
                if (t != "[") {
                    TfsCustomVariable* member = cls->FindMember(t);
                    if (!member) {
                        const Variant& pv = p->Value;
                        const bool unset = pv.IsNull() || (!pv.IsArray() && !pv.IsString() &&
                                                           !pv.IsEmpty() && pv.ToInt64() == 0);
                        if (unset && !owner_.IsRunning && owner_.LateBinding) {
                            while (d->Items.size() > 1) d->RemoveLastItem();
                            d->Finish();
                            d->TypeCode = fvtVariant;
                            d->LateBindingSource = CopyOf(element);
                            return d.release();
                        }
                        Fail("Undeclared identifier: " + Quoted(t));
                    }
                    item->Member = member;
                } else {
                    item->IsIndexed = true;
                    if (!cls->DefaultProperty)
                        Fail("Class " + p->TypeName + " does not have a default property");
                    item->Member = cls->DefaultProperty;
                }
            } else {
                if (k != fvtArray || !p->LinkedItem) Fail("Array type required");
                item->Member = p->LinkedItem;
            }
        } else if (Is(c, "expr")) {
            if (d->Items.empty()) Fail("Identifier expected");
            TfsDesignatorItem* last = d->LastItem();
            last->Args.push_back(nullptr);
            last->Args.back() = BuildExpression(c, script);
        } else if (Is(c, "addr")) {
            if (n != 2) Fail("Variable required");
            TfsXMLItem* target = element->Items(1);
            auto* v = new TfsStringVariable("", fvtString, "String");
            v->Value = Variant(TextOf(target));
            script->AddItem("", v);
            d->AddItem(v, target->Prop("pos"));
            break;
        }
    }

    if (mode == TDesignatorMode::Deletion) {
        TfsDesignatorItem* last = d->LastItem();
        if (!last || !last->Member ||
            (last->Member->TypeCode != fvtClass && last->Member->TypeCode != fvtVariant))
            Fail("Class type required");
        TfsClassVariable* object = script->LookupClass("TObject");
        TfsCustomVariable* freeMember = object ? object->FindMember("Free") : nullptr;
        if (!freeMember) Fail("Undeclared identifier: 'Free'");
        d->AddItem(freeMember, last->SourcePos);
    }
    d->Finish();
    if (d->Kind != dkGeneric && !d->LateBindingSource) {
        std::unique_ptr<TfsDesignator> typed;
        if (d->Kind == dkVariable)
            typed = std::make_unique<TfsVariableDesignator>(script, &owner_);
        else if (d->Kind == dkString)
            typed = std::make_unique<TfsStringDesignator>(script, &owner_);
        else
            typed = std::make_unique<TfsArrayDesignator>(script, &owner_);
        typed->CopyFrom(*d);
        typed->LateBindingNeedsDeclarations = needDeclareVars_;
        d = std::move(typed);
    }
    for (TfsDesignatorItem* item : d->Items) {
        TfsCustomVariable* m = item->Member;
        if (!m || dynamic_cast<TfsDesignator*>(m)) continue;
        errorPos_ = item->SourcePos;
        const int na = static_cast<int>(item->Args.size());
        if (na < m->RequiredParamCount()) Fail("Not enough actual parameters");
        if (na > m->ParamCount()) Fail("Too many actual parameters");
        for (int k = na; k < m->ParamCount(); ++k) {
            auto e = std::make_unique<TfsExpression>(script);
            e->SourcePos = item->SourcePos;
            e->AddConstant(m->Param(k)->DefaultValue);
            e->Finish();
            item->Args.push_back(e.release());
        }
        for (int k = 0; k < na; ++k) {
            TfsExpression* arg = item->Args[static_cast<size_t>(k)];
            errorPos_ = arg->SourcePos;
            CheckAssignable(m->Param(k), arg, script);
        }
    }
    // The argument lists may have grown: recompute the kind references and call flags.
    d->Finish();
    return d.release();
}

// ---- compiling a script ------------------------------------------------------------------------

void BuildProgram(TfsILParser& parser, TfsScript& script) {
    TfsXMLItem* types = nullptr;
    if (TfsXMLItem* root = parser.Grammar().Root()) {
        int at = root->Find("types");
        if (at >= 0) types = root->Items(at);
    }
    TfsILBuilder builder(script, parser.NeedDeclareVars(), &parser.Scanner(), types);
    builder.BuildProgram(parser.ILDocument().Root());
}

namespace {

// The parser's view of a script object.
class TScriptOwner : public TfsILOwner {
public:
    explicit TScriptOwner(TfsScript& s) : s_(s) {}
    bool ExtendedCharset() const override { return s_.ExtendedCharset; }
    std::vector<std::string> IncludePath() const override { return s_.IncludePath; }
    bool GetUnit(const std::string& unitName, std::string& text) override {
        if (!s_.OnGetUnit) return false;
        s_.OnGetUnit(&s_, unitName, text);
        return true;
    }
    std::string ErrorText() const override { return s_.ErrorText; }
    std::string ErrorLocation() const override { return s_.ErrorLocation; }
    std::string ErrorUnitName() const override { return s_.ErrorUnitName; }
    void SetErrorText(const std::string& t) override { s_.ErrorText = t; }
    void SetErrorLocation(const std::string& l) override { s_.ErrorLocation = l; }
    void SetErrorUnitName(const std::string& u) override { s_.ErrorUnitName = u; }

private:
    TfsScript& s_;
};

void CompileScript(TfsScript& script) {
    TScriptOwner owner(script);
    TfsILParser parser(owner);
    parser.SelectLanguage(script.SyntaxType);
    if (parser.MakeIL(JoinLines(script.Lines))) BuildProgram(parser, script);
}

void LateBind(TfsDesignator& d) {
    std::unique_ptr<TfsXMLItem> source = std::move(d.LateBindingSource);
    TfsScript* main = d.MainProgram ? d.MainProgram : d.Program;
    TfsILBuilder builder(*main, d.LateBindingNeedsDeclarations);
    std::unique_ptr<TfsDesignator> rebuilt(builder.BuildDesignator(source.get(), d.Program));
    const bool resultWanted = d.ResultWanted;
    d.CopyFrom(*rebuilt);
    d.ResultWanted = resultWanted;
}

[[maybe_unused]] const bool installed =
    (TfsScript::SetCompiler(&CompileScript), TfsDesignator::SetLateBinder(&LateBind), true);

} // namespace

} // namespace pt
