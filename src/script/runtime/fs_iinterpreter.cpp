#include "script/runtime/fs_iinterpreter.h"

#include "script/runtime/fs_errors.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>

namespace pt {

namespace {

constexpr uint16_t kVariantArray = varArray | varVariant;

// Deepest nesting of script procedure calls on one thread before "Stack overflow".
constexpr int kMaxCallDepth = 1000;
thread_local int t_callDepth = 0;

// Values saved around recursive calls of script procedures (indexes only are kept across
// nested calls, so growth may move the values).
thread_local std::vector<Variant> t_saveStack;

char UpperChar(char c) noexcept {
    return c >= 'a' && c <= 'z' ? char(c - 32) : c;
}

// Upper-cases name into buf when it fits, else into heap.
std::string_view UpperInto(std::string_view name, char (&buf)[128], std::string& heap) {
    char* out = buf;
    if (name.size() > sizeof buf) {
        heap.resize(name.size());
        out = heap.data();
    }
    for (size_t i = 0; i < name.size(); ++i) out[i] = UpperChar(name[i]);
    return {out, name.size()};
}

// Line numbers as text in ascending numeric order (digits only, no leading zeros).
bool LineLess(std::string_view a, std::string_view b) noexcept {
    return a.size() != b.size() ? a.size() < b.size() : a < b;
}

} // namespace

std::string UpperCaseName(std::string_view name) {
    std::string s(name);
    for (char& c : s) c = UpperChar(c);
    return s;
}

bool SameName(std::string_view a, std::string_view b) noexcept {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (UpperChar(a[i]) != UpperChar(b[i])) return false;
    return true;
}

// ---- TfsItemList -----------------------------------------------------------------------------

TfsItemList::~TfsItemList() {
    FreeAll();
}

void TfsItemList::FreeAll() noexcept {
    std::vector<TfsItem*> items;
    items.swap(list_);
    for (TfsItem* item : items) delete item;
}

void TfsItemList::Clear() {
    FreeAll();
}

int TfsItemList::Add(TfsItem* item) {
    try {
        list_.push_back(item);
    } catch (...) {
        delete item;
        throw;
    }
    return Count() - 1;
}

void TfsItemList::Remove(TfsItem* item) noexcept {
    auto it = std::find(list_.begin(), list_.end(), item);
    if (it != list_.end()) list_.erase(it);
}

// ---- frames ----------------------------------------------------------------------------------

const Variant& TfsCallFrame::NullValue() noexcept {
    static const Variant null = Variant::Null();
    return null;
}

const Variant& TfsCallFrame::Param(int i) const {
    if (i < 0 || i > paramCount_)
        RaiseError("List index out of bounds (" + std::to_string(i) + ")");
    return slots_[i];
}

void TfsCallFrame::SetParam(int i, const Variant& value) {
    if (i < 0 || i > paramCount_)
        RaiseError("List index out of bounds (" + std::to_string(i) + ")");
    slots_[i] = value;
}

TfsMethodHelper* TfsCallFrame::Helper() const noexcept {
    return dynamic_cast<TfsMethodHelper*>(Item);
}

TfsArgSlots::TfsArgSlots(int paramCount) : count_(paramCount + 1) {
    slots_ = count_ <= kInline ? reinterpret_cast<Variant*>(inline_)
                               : static_cast<Variant*>(::operator new(sizeof(Variant) * count_));
    for (int i = 0; i < count_; ++i) new (&slots_[i]) Variant(Variant::Null());
}

TfsArgSlots::~TfsArgSlots() {
    for (int i = 0; i < count_; ++i) slots_[i].~Variant();
    if (count_ > kInline) ::operator delete(slots_);
}

// ---- TfsCustomVariable -----------------------------------------------------------------------

TfsCustomVariable::TfsCustomVariable(std::string_view name, TfsVarType typeCode,
                                     std::string_view typeName)
    : TypeCode(typeCode), TypeName(typeName), Value(Variant::Null()), name_(name),
      upperName_(UpperCaseName(name)) {}

Variant TfsCustomVariable::ReadValue() {
    return Value;
}

void TfsCustomVariable::WriteValue(const Variant& value) {
    if (!ReadOnly) Value = value;
}

Variant TfsCustomVariable::ReadCall(TfsCallFrame& frame) {
    const int n = std::min(frame.ParamCount(), ParamCount());
    for (int i = 0; i < n; ++i) Param(i)->Value = frame.Slot(i);
    if (!Shared) ResultWanted = frame.ResultWanted;
    Variant result = ReadValue();
    for (int i = 0; i < n; ++i)
        if (Param(i)->ByReference) frame.Slot(i) = Param(i)->Value;
    return result;
}

void TfsCustomVariable::WriteCall(TfsCallFrame& frame, const Variant& value) {
    const int n = std::min(frame.ParamCount(), ParamCount());
    for (int i = 0; i < n; ++i) Param(i)->Value = frame.Slot(i);
    WriteValue(value);
}

TfsParamItem* TfsCustomVariable::Param(int i) const noexcept {
    return static_cast<TfsParamItem*>(At(i));
}

int TfsCustomVariable::RequiredParamCount() const noexcept {
    int n = 0;
    for (int i = 0; i < ParamCount(); ++i)
        if (!Param(i)->Optional) ++n;
    return n;
}

void TfsCustomVariable::AddParam(TfsParamItem* param) {
    Add(param);
}

// ---- variables -------------------------------------------------------------------------------

Variant TfsVariable::ReadValue() {
    if (OnGetVarValue) {
        Variant hooked = OnGetVarValue(Name(), TypeCode, Value);
        if (!hooked.IsNull()) return hooked;
    }
    return Value;
}

void TfsVariable::WriteValue(const Variant& value) {
    if (!ReadOnly) Value = ConvertForStore(TypeCode, value);
}

TfsStringVariable::TfsStringVariable(std::string_view name, TfsVarType typeCode,
                                     std::string_view typeName)
    : TfsVariable(name, typeCode, typeName) {
    Value = Variant(std::string_view());
}

Variant TfsStringVariable::ReadValue() {
    Variant s = Value.Kind() == varString ? Value : Variant(Value.ToStrLoose());
    if (OnGetVarValue) {
        Variant hooked = OnGetVarValue(Name(), TypeCode, s);
        if (!hooked.IsNull()) return hooked;
    }
    return s;
}

void TfsStringVariable::WriteValue(const Variant& value) {
    if (value.Kind() == varString)
        Value = value;
    else
        Value = Variant(value.ToStr());
}

namespace {
struct ThreadCell {
    uint64_t serial = 0;
    Variant value;
};
// The cells live behind a plain pointer so that a variable destroyed after this thread's
// thread-local objects (the global unit at process exit) finds them gone instead of freed.
thread_local std::vector<ThreadCell>* t_cells = nullptr;
thread_local bool t_cellsGone = false;
struct ThreadCellsOwner {
    bool armed = false;
    ~ThreadCellsOwner() {
        delete t_cells;
        t_cells = nullptr;
        t_cellsGone = true;
    }
};
thread_local ThreadCellsOwner t_cellsOwner;
std::atomic<uint32_t> g_nextThreadSlot{0};
std::atomic<uint64_t> g_nextThreadSerial{1};
} // namespace

TfsThreadVariable::TfsThreadVariable(std::string_view name, TfsVarType typeCode,
                                     std::string_view typeName)
    : TfsCustomVariable(name, typeCode, typeName),
      slot_(g_nextThreadSlot.fetch_add(1, std::memory_order_relaxed)),
      serial_(g_nextThreadSerial.fetch_add(1, std::memory_order_relaxed)) {}

TfsThreadVariable::~TfsThreadVariable() {
    if (t_cells && slot_ < t_cells->size() && (*t_cells)[slot_].serial == serial_)
        (*t_cells)[slot_] = ThreadCell{};
}

Variant& TfsThreadVariable::Cell() {
    if (!t_cells) {
        if (t_cellsGone) RaiseError("Thread variables are no longer available");
        t_cellsOwner.armed = true; // constructs the owner, which frees the cells at thread exit
        t_cells = new std::vector<ThreadCell>;
    }
    std::vector<ThreadCell>& cells = *t_cells;
    if (slot_ >= cells.size()) cells.resize(slot_ + 1);
    ThreadCell& c = cells[slot_];
    if (c.serial != serial_) {
        c.serial = serial_;
        c.value = Value;
    }
    return c.value;
}

Variant TfsThreadVariable::ReadValue() {
    Variant v = Cell();
    if (OnGetVarValue) {
        Variant hooked = OnGetVarValue(Name(), TypeCode, v);
        if (!hooked.IsNull()) return hooked;
    }
    return v;
}

void TfsThreadVariable::WriteValue(const Variant& value) {
    if (ReadOnly) return;
    Variant converted = ConvertForStore(TypeCode, value);
    Cell() = std::move(converted);
}

TfsParamItem::TfsParamItem(std::string_view name, TfsVarType typeCode, std::string_view typeName,
                           bool optional, bool byReference)
    : TfsCustomVariable(name, typeCode, typeName), Optional(optional), ByReference(byReference) {}

// ---- script procedures -----------------------------------------------------------------------

TfsProcVariable::TfsProcVariable(std::string_view name, TfsVarType typeCode,
                                 std::string_view typeName, TfsScript* parent, bool isFunction)
    : TfsCustomVariable(name, typeCode, typeName), IsFunction(isFunction),
      body_(std::make_unique<TfsScript>()) {
    ReadOnly = true;
    body_->Parent = parent;
    if (isFunction) {
        auto* result = new TfsVariable("Result", typeCode, typeName);
        body_->AddItem("Result", result);
        LinkedItem = result;
    }
}

TfsProcVariable::~TfsProcVariable() {
    body_.reset(); // the body refers to the parameters, which the list frees afterwards
}

void TfsProcVariable::AddParam(TfsParamItem* param) {
    TfsCustomVariable::AddParam(param);
    body_->AddItemRef(param->Name(), param);
}

Variant TfsProcVariable::ReadValue() {
    if (t_callDepth >= kMaxCallDepth) RaiseError("Stack overflow");
    ++t_callDepth;
    const bool wasExecuting = Executing;
    Executing = true;
    TfsScript* main = body_->Parent;
    while (main && !main->IsMainProgram) main = main->Parent;
    TfsScript* const previousActive = main ? main->ActiveProgram : nullptr;
    struct Done {
        TfsProcVariable* self;
        TfsScript* main;
        TfsScript* previousActive;
        bool wasExecuting;
        ~Done() {
            TfsScript* body = self->body_.get();
            body->ExitRequested = body->BreakRequested = body->ContinueRequested = false;
            body->IsRunning = false;
            if (main) main->ActiveProgram = previousActive;
            self->Executing = wasExecuting;
            --t_callDepth;
        }
    } done{this, main, previousActive, wasExecuting};

    if (IsFunction && LinkedItem) LinkedItem->WriteValue(Variant());
    if (main) main->ActiveProgram = body_.get();
    body_->ExitRequested = false;
    body_->IsRunning = true;
    body_->Statements->Perform();
    return IsFunction && LinkedItem ? LinkedItem->Value : Variant::Null();
}

Variant TfsProcVariable::ReadCall(TfsCallFrame& frame) {
    if (!Executing) return TfsCustomVariable::ReadCall(frame);

    // A recursive call: this activation gets the one set of items; the caller's values are
    // put back afterwards. Var parameters reach the frame before the restore, so the caller
    // sees them even when the argument is one of the restored items.
    if (savedFor_ != body_->ItemCount()) {
        saved_.clear();
        for (int i = 0; i < body_->ItemCount(); ++i) {
            TfsCustomVariable* v = body_->ItemAt(i)->AsVariable();
            if (v && (dynamic_cast<TfsVariable*>(v) || dynamic_cast<TfsParamItem*>(v)))
                saved_.push_back(v);
        }
        savedFor_ = body_->ItemCount();
    }
    const size_t mark = t_saveStack.size();
    for (TfsCustomVariable* v : saved_) t_saveStack.push_back(v->Value);
    struct Restore {
        TfsProcVariable* self;
        size_t mark;
        ~Restore() {
            for (size_t k = 0; k < self->saved_.size(); ++k)
                self->saved_[k]->Value = std::move(t_saveStack[mark + k]);
            t_saveStack.resize(mark);
        }
    } restore{this, mark};
    return TfsCustomVariable::ReadCall(frame);
}

// ---- registered functions --------------------------------------------------------------------

TfsMethodHelper::TfsMethodHelper(std::string_view prototype, const TfsScript* scope)
    : TfsMethodHelper(ReadPrototype(prototype, scope), prototype, scope) {}

TfsMethodHelper::TfsMethodHelper(TfsPrototype&& proto, std::string_view text,
                                 const TfsScript* scope)
    : TfsCustomHelper(proto.Name, TypeCodeOf(proto.TypeName, scope), proto.TypeName),
      Prototype(text) {
    IsMacro = proto.IsMacro;
    ReadOnly = true;
    for (TfsPrototypeParam& p : proto.Params) {
        auto* param = new TfsParamItem(p.Name, TypeCodeOf(p.TypeName, scope), p.TypeName,
                                       p.Optional, p.ByReference);
        param->DefaultValue = std::move(p.DefaultValue);
        AddParam(param);
    }
    if (ParamCount() > 0) {
        PtArrayBound bound{0, ParamCount()};
        PtArray* a = pt_array_new(varVariant, 1, &bound);
        if (!a) throw std::bad_alloc();
        paramValues_.store(a, std::memory_order_relaxed);
    }
}

TfsMethodHelper::~TfsMethodHelper() {
    pt_array_release(paramValues_.exchange(nullptr));
}

void TfsMethodHelper::SetIndexProperty(bool on) {
    isIndexProperty_ = on;
    getName_ = UpperName() + ".GET";
    setName_ = UpperName() + ".SET";
}

TObject* TfsMethodHelper::InstanceOf(const TfsCallFrame& frame) const {
    if (!ClassRef) return nullptr;
    return VariantToObject(*frame.ParentValue, ClassRef);
}

Variant TfsMethodHelper::TakeParamValues() {
    PtArray* a = paramValues_.exchange(nullptr, std::memory_order_acquire);
    if (!a) {
        PtArrayBound bound{0, ParamCount()};
        a = pt_array_new(varVariant, 1, &bound);
        if (!a) throw std::bad_alloc();
    }
    PtValue raw{};
    raw.vt = kVariantArray;
    raw.u.arr = a;
    return Variant::Adopt(raw);
}

void TfsMethodHelper::GiveBackParamValues(Variant& array) noexcept {
    PtValue& raw = array.Raw();
    PtArray* a = raw.vt == kVariantArray ? raw.u.arr : nullptr;
    // Reused only when the handler kept no reference and left the shape alone.
    if (!a || __atomic_load_n(&a->refcount, __ATOMIC_ACQUIRE) != 1 || a->dims != 1 ||
        a->bounds[0].lowBound != 0 || a->count != static_cast<uint32_t>(ParamCount()))
        return;
    for (uint32_t i = 0; i < a->count; ++i) pt_value_set_null(&a->items[i]);
    raw = PtValue{};
    pt_array_release(paramValues_.exchange(a, std::memory_order_acq_rel));
}

Variant TfsMethodHelper::ReadCall(TfsCallFrame& frame) {
    TObject* instance = InstanceOf(frame);
    const std::string_view name = isIndexProperty_ ? std::string_view(getName_) : UpperName();
    if (OnHelperCall) return OnHelperCall(instance, ClassRef, name, frame);
    if (!OnParamsCall) return Variant::Byte(0);

    const int n = std::min(ParamCount(), frame.ParamCount());
    if (ParamCount() == 0) {
        Variant none;
        return OnParamsCall(instance, ClassRef, name, none);
    }
    Variant params = TakeParamValues();
    PtArray* a = params.Raw().u.arr;
    for (int i = 0; i < n; ++i) Variant::FromRaw(a->items[i]) = frame.Slot(i);
    Variant result;
    try {
        result = OnParamsCall(instance, ClassRef, name, params);
    } catch (...) {
        GiveBackParamValues(params);
        throw;
    }
    const PtValue& raw = params.Raw();
    if (raw.vt == kVariantArray && raw.u.arr && raw.u.arr->dims == 1) {
        const PtArray* b = raw.u.arr;
        for (int i = 0; i < n && static_cast<uint32_t>(i) < b->count; ++i)
            if (Param(i)->ByReference) frame.Slot(i) = Variant::FromRaw(b->items[i]);
    }
    GiveBackParamValues(params);
    return result;
}

void TfsMethodHelper::WriteCall(TfsCallFrame& frame, const Variant& value) {
    if (!isIndexProperty_) return;
    TObject* instance = InstanceOf(frame);
    if (OnHelperCall) {
        frame.ValueToSet() = value;
        try {
            OnHelperCall(instance, ClassRef, setName_, frame);
        } catch (...) {
            frame.ValueToSet() = Variant::Null();
            throw;
        }
        frame.ValueToSet() = Variant::Null();
    } else if (OnParamsCall) {
        const int n = std::min(ParamCount(), frame.ParamCount());
        PtArrayBound bound{0, n + 1};
        PtArray* a = pt_array_new(varVariant, 1, &bound);
        if (!a) throw std::bad_alloc();
        PtValue raw{};
        raw.vt = kVariantArray;
        raw.u.arr = a;
        Variant params = Variant::Adopt(raw);
        for (int i = 0; i < n; ++i) Variant::FromRaw(a->items[i]) = frame.Slot(i);
        Variant::FromRaw(a->items[n]) = value;
        OnParamsCall(instance, ClassRef, setName_, params);
    }
}

Variant TfsMethodHelper::ReadValue() {
    const int n = ParamCount();
    TfsArgSlots slots(n);
    for (int i = 0; i < n; ++i) slots.Data()[i] = Param(i)->Value;
    TfsCallFrame frame(this, slots.Data(), n);
    frame.ResultWanted = ResultWanted;
    Variant result = ReadCall(frame);
    for (int i = 0; i < n; ++i)
        if (Param(i)->ByReference) Param(i)->Value = frame.Slot(i);
    return result;
}

void TfsMethodHelper::WriteValue(const Variant& value) {
    const int n = ParamCount();
    TfsArgSlots slots(n);
    for (int i = 0; i < n; ++i) slots.Data()[i] = Param(i)->Value;
    TfsCallFrame frame(this, slots.Data(), n);
    WriteCall(frame, value);
}

// ---- classes ---------------------------------------------------------------------------------

TfsClassVariable::TfsClassVariable(TfsClassRef cls, std::string_view ancestorName,
                                   TfsScript* program)
    : TfsCustomVariable(cls->Name, fvtClass, cls->Name), AncestorName(ancestorName), ClassRef(cls),
      Program(program) {
    AddParam(new TfsParamItem("", fvtVariant, "Variant", true, false));
}

TfsCustomVariable* TfsClassVariable::FindMember(std::string_view name) const {
    const TfsClassVariable* cls = this;
    for (int depth = 0; cls && depth < 64; ++depth) {
        for (int i = 0; i < cls->Members.Count(); ++i) {
            auto* m = static_cast<TfsCustomVariable*>(cls->Members.At(i));
            if (SameName(m->Name(), name)) return m;
        }
        const TfsClassVariable* next =
            cls->Program ? cls->Program->LookupClass(cls->AncestorName) : nullptr;
        cls = next == cls ? nullptr : next;
    }
    return nullptr;
}

void TfsClassVariable::AddMember(TfsCustomVariable* member) {
    member->Shared = Shared;
    Members.Add(member);
}

TfsMethodHelper* TfsClassVariable::DeclareMethod(std::string_view prototype,
                                                 TfsHelperCallEvent handler) {
    auto h = std::make_unique<TfsMethodHelper>(prototype, Program);
    h->ClassRef = ClassRef;
    h->OnHelperCall = std::move(handler);
    h->Description = h->Name();
    TfsMethodHelper* raw = h.get();
    AddMember(h.release());
    return raw;
}

TfsMethodHelper* TfsClassVariable::DeclareConstructor(std::string_view prototype,
                                                      TfsHelperCallEvent handler) {
    size_t blank = prototype.find(' ');
    std::string text = "function";
    if (blank != std::string_view::npos) text += prototype.substr(blank);
    text += ": Constructor";
    TfsMethodHelper* h = DeclareMethod(text, std::move(handler));
    h->TypeCode = fvtConstructor;
    return h;
}

TfsMethodHelper* TfsClassVariable::DeclareIndexProperty(std::string_view name,
                                                        std::string_view paramTypes,
                                                        std::string_view typeName,
                                                        TfsHelperCallEvent handler, bool readOnly) {
    std::string text = "function " + std::string(name) + "(";
    int index = 0;
    size_t start = 0;
    while (start <= paramTypes.size()) {
        size_t comma = paramTypes.find(',', start);
        std::string_view t = paramTypes.substr(
            start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
        while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
        while (!t.empty() && t.back() == ' ') t.remove_suffix(1);
        if (!t.empty()) {
            if (index > 0) text += "; ";
            text += "p" + std::to_string(index++) + ": " + std::string(t);
        }
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    text += "): " + std::string(typeName);
    TfsMethodHelper* h = DeclareMethod(text, std::move(handler));
    h->ReadOnly = readOnly;
    h->SetIndexProperty(true);
    return h;
}

TfsMethodHelper* TfsClassVariable::DeclareDefaultProperty(std::string_view name,
                                                          std::string_view paramTypes,
                                                          std::string_view typeName,
                                                          TfsHelperCallEvent handler,
                                                          bool readOnly) {
    DefaultProperty =
        DeclareIndexProperty(name, paramTypes, typeName, std::move(handler), readOnly);
    return DefaultProperty;
}

Variant TfsClassVariable::ReadCall(TfsCallFrame& frame) {
    // A bare class name gives Null: the constructor member that follows creates the object
    // (its instance is none), so nothing is allocated when no constructor follows.
    if (frame.ParamCount() > 0 && !frame.Slot(0).IsNull() && !frame.Slot(0).IsEmpty())
        return frame.Slot(0);
    return Variant::Null();
}

Variant TfsClassVariable::ReadValue() {
    Variant arg = std::move(Param(0)->Value);
    Param(0)->Value = Variant::Null();
    return arg.IsNull() || arg.IsEmpty() ? Variant::Null() : arg;
}

// ---- statements ------------------------------------------------------------------------------

void TfsStatement::Perform() {
    for (TfsItem* item : list_) {
        static_cast<TfsStatement*>(item)->Perform();
        if (Program->BreakRequested || Program->ContinueRequested || Program->ExitRequested) break;
    }
}

// ---- module registry -------------------------------------------------------------------------

namespace {
std::mutex g_modulesLock;
// Never destroyed: units unregister during static destruction in any order.
std::vector<const TfsModuleClass*>& ModuleList() {
    static auto* list = new std::vector<const TfsModuleClass*>;
    return *list;
}
} // namespace

std::vector<const TfsModuleClass*> RegisteredModules() {
    std::lock_guard<std::mutex> g(g_modulesLock);
    return ModuleList();
}

void RegisterModuleClass(const TfsModuleClass* cls, bool first) {
    std::lock_guard<std::mutex> g(g_modulesLock);
    auto& list = ModuleList();
    list.insert(first ? list.begin() : list.end(), cls);
}

void UnregisterModuleClass(const TfsModuleClass* cls) noexcept {
    std::lock_guard<std::mutex> g(g_modulesLock);
    auto& list = ModuleList();
    auto it = std::find(list.begin(), list.end(), cls);
    if (it != list.end()) list.erase(it);
}

// ---- TfsScript -------------------------------------------------------------------------------

namespace {
std::atomic<TfsScript::TfsCompiler> g_compiler{nullptr};
}

void TfsScript::SetCompiler(TfsCompiler compiler) noexcept {
    g_compiler.store(compiler);
}

constinit const TPropInfo TfsScript::PublishedProps[] = {
    Published<tkString, &TfsScript::SyntaxType>("SyntaxType"),
};
constinit const TClassInfo TfsScript::ClassInfo{"TfsScript", &TComponent::ClassInfo,
                                                TfsScript::PublishedProps};

TfsScript::TfsScript(TComponent* owner)
    : TComponent(owner), Statements(std::make_unique<TfsStatement>(this, "", "")) {}

TfsScript::~TfsScript() {
    Reset();
    RemoveModules();
    RemoveWhere([](const Entry&) { return true; });
    Statements.reset();
}

void TfsScript::Insert(std::string_view name, TfsItem* item, bool owns) {
    Entry e{{}, item, item->AsVariable(), owns, false};
    try {
        std::string upper = UpperCaseName(name);
        if (e.var && upper == e.var->UpperName()) {
            e.key = e.var->UpperName();
        } else if (!upper.empty()) {
            char* key = new char[upper.size()];
            std::memcpy(key, upper.data(), upper.size());
            e.key = {key, upper.size()};
            e.ownsKey = true;
        }
        // Before every entry of an equal name: the newest entry is found first.
        auto at = std::lower_bound(items_.begin(), items_.end(), e.key,
                                   [](const Entry& x, std::string_view k) { return x.key < k; });
        items_.insert(at, e);
    } catch (...) {
        if (e.ownsKey) delete[] e.key.data();
        if (owns) delete item;
        throw;
    }
}

void TfsScript::AddItem(std::string_view name, TfsItem* item) {
    if (TfsCustomVariable* v = item->AsVariable()) {
        v->AddedBy = AddedBy;
        v->Shared = SharedAcrossThreads;
    }
    Insert(name, item, true);
}

void TfsScript::AddItemRef(std::string_view name, TfsCustomVariable* item) {
    Insert(name, item, false);
}

const TfsScript::Entry* TfsScript::Find(std::string_view upperName) const noexcept {
    auto at = std::lower_bound(items_.begin(), items_.end(), upperName,
                               [](const Entry& x, std::string_view k) { return x.key < k; });
    return at != items_.end() && at->key == upperName ? &*at : nullptr;
}

TfsCustomVariable* TfsScript::LookupLocal(std::string_view name) const {
    char buf[128];
    std::string heap;
    const Entry* e = Find(UpperInto(name, buf, heap));
    return e ? e->var : nullptr;
}

TfsCustomVariable* TfsScript::Lookup(std::string_view name) const {
    char buf[128];
    std::string heap;
    std::string_view key = UpperInto(name, buf, heap);
    for (const TfsScript* s = this; s; s = s->Parent)
        if (const Entry* e = s->Find(key)) {
            if (e->var) return e->var;
        }
    return nullptr;
}

TfsClassVariable* TfsScript::LookupClass(std::string_view name) const {
    return dynamic_cast<TfsClassVariable*>(Lookup(name));
}

template <class Pred> void TfsScript::RemoveWhere(Pred drop) {
    std::vector<Entry> kept, dropped;
    kept.reserve(items_.size());
    for (const Entry& e : items_) (drop(e) ? dropped : kept).push_back(e);
    items_.swap(kept);
    for (const Entry& e : dropped) {
        if (e.ownsKey) delete[] e.key.data();
        if (e.ownsItem) delete e.item;
    }
}

namespace {
bool IsModuleEntry(TfsItem* item, TfsCustomVariable* var) {
    return var ? var->AddedBy == kAddedByModules : dynamic_cast<TfsRTTIModule*>(item) != nullptr;
}
} // namespace

bool TfsScript::Compile() {
    ErrorText.clear();
    TfsCompiler compiler = g_compiler.load();
    if (!compiler) RaiseError("Language '" + SyntaxType + "' not found");
    compiler(*this);
    const bool ok = ErrorText.empty();
    if (ok) ErrorLocation.clear();
    return ok;
}

void TfsScript::Execute() {
    ExitRequested = false;
    IsRunning = true;
    IsMainProgram = true;
    struct Done {
        TfsScript* s;
        // A break or continue outside any loop ends here, like exit.
        ~Done() {
            s->ExitRequested = s->BreakRequested = s->ContinueRequested = s->IsRunning = false;
        }
    } done{this};
    Statements->Perform();
}

void TfsScript::Reset() {
    RemoveWhere([](const Entry& e) { return !IsModuleEntry(e.item, e.var); });
    Statements->Clear();
    unitLines_.clear();
    ErrorLocation.clear();
    ErrorText.clear();
    ErrorUnitName.clear();
}

void TfsScript::InstallModules() {
    if (modulesInstalled_) return;
    modulesInstalled_ = true; // a module that fails leaves what it declared for RemoveModules
    AddedBy = kAddedByModules;
    try {
        for (const TfsModuleClass* cls : RegisteredModules()) AddItem("", cls->Create(this));
    } catch (...) {
        AddedBy = 0;
        throw;
    }
    AddedBy = 0;
}

void TfsScript::RemoveModules() {
    if (!modulesInstalled_) return;
    RemoveWhere([](const Entry& e) { return IsModuleEntry(e.item, e.var); });
    modulesInstalled_ = false;
}

void TfsScript::ReportLine(const std::string& unitName, const std::string& sourcePos) {
    for (TfsScript* s = this; s; s = s->Parent)
        if (s->OnRunLine) {
            s->OnRunLine(this, unitName, sourcePos);
            return;
        }
}

void TfsScript::RecordCodeLine(std::string_view unitName, std::string_view sourcePos) {
    std::string_view line = sourcePos.substr(0, sourcePos.find(':'));
    auto unit = std::find_if(unitLines_.begin(), unitLines_.end(),
                             [&](const TUnitLines& u) { return SameName(u.UnitName, unitName); });
    if (unit == unitLines_.end()) {
        unitLines_.push_back(TUnitLines{std::string(unitName), {}});
        unit = unitLines_.end() - 1;
    }
    auto at =
        std::lower_bound(unit->Lines.begin(), unit->Lines.end(), line,
                         [](const std::string& a, std::string_view b) { return LineLess(a, b); });
    if (at == unit->Lines.end() || *at != line) unit->Lines.insert(at, std::string(line));
}

void TfsScript::SetValueOf(std::string_view name, const Variant& value) {
    if (TfsCustomVariable* item = Lookup(name))
        item->WriteValue(value);
    else
        DeclareVariable(name, "Variant", value);
}

// ---- registration ----------------------------------------------------------------------------

TfsVarType TypeCodeOf(std::string_view typeName, const TfsScript* script) {
    if (typeName.empty() || !script) return fvtClass;
    const TfsCustomVariable* item = script->Lookup(typeName);
    return item ? item->TypeCode : fvtClass;
}

TfsClassVariable* TfsScript::DeclareClass(TfsClassRef cls, std::string_view ancestorName) {
    if (!cls || Lookup(cls->Name)) return nullptr;
    auto* c = new TfsClassVariable(cls, ancestorName, this);
    AddItem(c->Name(), c);
    if (TfsClassVariable* ancestor = LookupClass(ancestorName); ancestor && ancestor != c)
        c->DefaultProperty = ancestor->DefaultProperty;
    return c;
}

TfsCustomVariable* TfsScript::NewVariable(std::string_view name, std::string_view typeName,
                                          const Variant& value, bool readOnly) {
    const TfsVarType code = TypeCodeOf(typeName, this);
    std::unique_ptr<TfsCustomVariable> v;
    if (SharedAcrossThreads && !readOnly)
        v = std::make_unique<TfsThreadVariable>(name, code, typeName);
    else
        v = std::make_unique<TfsVariable>(name, code, typeName);
    v->Value = ConvertForStore(code, value);
    v->ReadOnly = readOnly;
    return v.release();
}

void TfsScript::DeclareConst(std::string_view name, std::string_view typeName,
                             const Variant& value) {
    if (Lookup(name)) return;
    AddItem(name, NewVariable(name, typeName, value, true));
}

void TfsScript::DeclareVariable(std::string_view name, std::string_view typeName,
                                const Variant& value) {
    if (Lookup(name)) return;
    TfsCustomVariable* v = NewVariable(name, typeName, value, false);
    v->OnGetVarValue = OnGetVarValue;
    AddItem(name, v);
}

void TfsScript::DeclareEnumValues(std::string_view typeName, std::string_view names, bool bits) {
    AddItem(typeName, new TfsVariable(typeName, fvtEnum, typeName));
    int32_t index = 0;
    size_t start = 0;
    while (start <= names.size()) {
        size_t comma = names.find(',', start);
        std::string_view n = names.substr(
            start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
        while (!n.empty() && static_cast<unsigned char>(n.front()) <= ' ') n.remove_prefix(1);
        while (!n.empty() && static_cast<unsigned char>(n.back()) <= ' ') n.remove_suffix(1);
        if (!n.empty()) {
            if (bits && index >= 32)
                RaiseError("Too many values in set type " + std::string(typeName));
            auto* v = new TfsVariable(n, fvtEnum, typeName);
            v->Value = bits ? Variant(static_cast<int32_t>(uint32_t{1} << index)) : Variant(index);
            v->ReadOnly = true;
            AddItem(n, v);
            ++index;
        }
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
}

void TfsScript::DeclareEnum(std::string_view typeName, std::string_view names) {
    DeclareEnumValues(typeName, names, false);
}

void TfsScript::DeclareEnumSet(std::string_view typeName, std::string_view names) {
    DeclareEnumValues(typeName, names, true);
}

TfsMethodHelper* TfsScript::DeclareMethod(std::string_view prototype, TfsHelperCallEvent handler,
                                          std::string_view category, std::string_view description) {
    auto h = std::make_unique<TfsMethodHelper>(prototype, this);
    h->OnHelperCall = std::move(handler);
    h->Category = category;
    h->Description = description.empty() ? h->Name() : std::string(description);
    TfsMethodHelper* raw = h.get();
    AddItem(raw->Name(), h.release());
    return raw;
}

TfsMethodHelper* TfsScript::DeclareMethod(std::string_view prototype, TfsParamsCallEvent handler,
                                          std::string_view category, std::string_view description) {
    auto h = std::make_unique<TfsMethodHelper>(prototype, this);
    h->OnParamsCall = std::move(handler);
    h->Category = category;
    h->Description = description.empty() ? h->Name() : std::string(description);
    TfsMethodHelper* raw = h.get();
    AddItem(raw->Name(), h.release());
    return raw;
}

void TfsScript::DeclareObject(std::string_view name, TObject* object) {
    DeclareVariable(name, object ? object->ClassName() : TObject::ClassInfo.Name,
                    ObjectToVariant(object));
}

void TfsScript::DeclareType(std::string_view typeName, TfsVarType typeCode) {
    if (Lookup(typeName)) return;
    AddItem(typeName, new TfsTypeVariable(typeName, typeCode, ""));
}

bool TfsScript::IsRegisteredClass(std::string_view typeName) const {
    return LookupClass(typeName) != nullptr;
}

bool TfsScript::DescendsFrom(std::string_view typeName, std::string_view ancestorName) const {
    const TfsClassVariable* cls = LookupClass(typeName);
    for (int depth = 0; cls && depth < 64; ++depth) {
        if (SameName(cls->Name(), ancestorName)) return true;
        const TfsScript* scope = cls->Program ? cls->Program : this;
        const TfsClassVariable* next = scope->LookupClass(cls->AncestorName);
        cls = next == cls ? nullptr : next;
    }
    return false;
}

// ---- the global unit -------------------------------------------------------------------------

namespace {
std::atomic<bool> g_shutdown{false};
std::atomic<TfsScript*> g_globalUnit{nullptr};
std::mutex g_globalLock;

// Made on first use, so it is destroyed before every static object that existed then.
struct GlobalUnitKeeper {
    ~GlobalUnitKeeper() {
        std::lock_guard<std::mutex> g(g_globalLock);
        g_shutdown.store(true);
        delete g_globalUnit.exchange(nullptr);
    }
};
} // namespace

TfsScript* GlobalUnit() {
    if (TfsScript* unit = g_globalUnit.load(std::memory_order_acquire)) return unit;
    std::lock_guard<std::mutex> g(g_globalLock);
    if (g_shutdown.load()) return nullptr;
    if (TfsScript* unit = g_globalUnit.load(std::memory_order_relaxed)) return unit;
    static GlobalUnitKeeper keeper;
    auto unit = std::make_unique<TfsScript>();
    unit->SharedAcrossThreads = true;
    unit->InstallModules();
    g_globalUnit.store(unit.get(), std::memory_order_release);
    return unit.release();
}

} // namespace pt
