// The program model: a compiled script is a tree of runtime objects under one TfsScript.
// A TfsScript is a scope (a sorted, case-insensitive table of named items with a parent
// scope); items are variables, constants, types, parameters, script procedures and
// registered functions. Native code makes itself visible to scripts through the registration
// interface (DeclareMethod and friends) and is reached through handlers.
//
// Threads. A script object and everything it owns is used by one thread at a time. The global
// unit is shared by every script in the process and is read-only while scripts run:
//  - everything a call needs (argument values, the value to set, the parent value, whether
//    the result is wanted) travels in a TfsCallFrame that the caller owns (ReadCall and
//    WriteCall); items of a shared scope never keep per-call state in their fields;
//  - variables declared in a shared scope keep one value per thread (TfsThreadVariable);
//  - the argument array of an array-style handler is taken from a one-element cache with an
//    atomic exchange; a call that finds it taken makes a fresh array.
// See docs/runtime-model.md.
#pragma once

#include "script/runtime/fs_objects.h"
#include "script/runtime/fs_prototype.h"
#include "script/runtime/fs_variant.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace pt {

class TfsScript;
class TfsCustomVariable;
class TfsParamItem;
class TfsMethodHelper;
class TfsClassVariable;
class TfsCallFrame;

// ---- handler types ---------------------------------------------------------------------------

// The method name handed over is the item's UpperName (with ".GET" / ".SET" for indexed
// properties). instance is null for functions declared on a scope; classRef likewise.
using TfsParamsCallEvent = std::function<Variant(TObject* instance, TfsClassRef classRef,
                                                 std::string_view methodName, Variant& params)>;
using TfsHelperCallEvent = std::function<Variant(
    TObject* instance, TfsClassRef classRef, std::string_view methodName, TfsCallFrame& caller)>;
using TfsGetVariableValueEvent =
    std::function<Variant(const std::string& varName, TfsVarType varType, const Variant& oldValue)>;
using TfsRunLineEvent = std::function<void(TfsScript* sender, const std::string& unitName,
                                           const std::string& sourcePos)>;
using TfsGetUnitEvent =
    std::function<void(TfsScript* sender, const std::string& unitName, std::string& unitText)>;

// Marker stamped into AddedBy on items added while modules are installed.
inline constexpr int kAddedByModules = 1;

// ASCII upper-casing of names (bytes from 128 up are kept: names are UTF-8).
std::string UpperCaseName(std::string_view name);
bool SameName(std::string_view a, std::string_view b) noexcept;

// ---- owned object lists ------------------------------------------------------------------------

// Root of everything a scope or an item list owns.
class TfsItem {
public:
    TfsItem() = default;
    TfsItem(const TfsItem&) = delete;
    TfsItem& operator=(const TfsItem&) = delete;
    virtual ~TfsItem() = default;
    virtual TfsCustomVariable* AsVariable() noexcept { return nullptr; }
};

class TfsItemList : public TfsItem {
public:
    ~TfsItemList() override;
    // Frees every object, first to last, and empties the list.
    virtual void Clear();
    int Add(TfsItem* item);              // takes ownership; returns the index
    void Remove(TfsItem* item) noexcept; // takes out without freeing
    int Count() const noexcept { return static_cast<int>(list_.size()); }
    TfsItem* At(int i) const noexcept { return list_[static_cast<size_t>(i)]; }

protected:
    void FreeAll() noexcept;
    std::vector<TfsItem*> list_;
};

// ---- per-call state --------------------------------------------------------------------------

// One call of an item with arguments: ParamCount() argument slots followed by one slot for
// the value being assigned (indexed properties). The caller owns the slots; nothing of a call
// is kept in the shared item, so one item serves calls on several threads at once.
class TfsCallFrame {
public:
    // slots must hold paramCount + 1 values.
    TfsCallFrame(TfsCustomVariable* item, Variant* slots, int paramCount) noexcept
        : Item(item), slots_(slots), paramCount_(paramCount) {}

    TfsCustomVariable* Item;                   // the item being called
    const Variant* ParentValue = &NullValue(); // value of the previous designator step
    TfsCustomVariable* ParentItem = nullptr;   // item of the previous designator step
    TfsScript* Program = nullptr;              // the scope the designator runs in
    bool ResultWanted = true;

    int ParamCount() const noexcept { return paramCount_; }
    // Argument i; i == ParamCount() gives the value to set. Out of range raises.
    const Variant& Param(int i) const;
    void SetParam(int i, const Variant& value);
    Variant& Slot(int i) noexcept { return slots_[i]; } // unchecked, 0..ParamCount()
    const Variant& Slot(int i) const noexcept { return slots_[i]; }
    Variant& ValueToSet() noexcept { return slots_[paramCount_]; }
    TfsMethodHelper* Helper() const noexcept;

    static const Variant& NullValue() noexcept;

private:
    Variant* slots_;
    int paramCount_;
};

// Slots for one frame, inline for up to eight parameters. All slots start as Null.
class TfsArgSlots {
public:
    explicit TfsArgSlots(int paramCount);
    ~TfsArgSlots();
    TfsArgSlots(const TfsArgSlots&) = delete;
    TfsArgSlots& operator=(const TfsArgSlots&) = delete;
    Variant* Data() noexcept { return slots_; }

private:
    static constexpr int kInline = 9;
    alignas(Variant) unsigned char inline_[kInline * sizeof(Variant)];
    Variant* slots_;
    int count_;
};

// ---- items -----------------------------------------------------------------------------------

class TfsCustomVariable : public TfsItemList {
public:
    TfsCustomVariable(std::string_view name, TfsVarType typeCode, std::string_view typeName);
    TfsCustomVariable* AsVariable() noexcept override { return this; }

    int AddedBy = 0;
    bool IsMacro = false;
    bool ReadOnly = false;
    bool ResultWanted = true; // only for items of one script; shared items get it from the frame
    bool Shared = false;      // lives in a scope shared between threads (set by AddItem)
    TfsCustomVariable* LinkedItem = nullptr;
    std::string SourcePos;
    std::string SourceUnit;
    TfsVarType TypeCode;
    std::string TypeName;
    Variant Value;
    TfsGetVariableValueEvent OnGetVarValue;

    const std::string& Name() const noexcept { return name_; }
    const std::string& UpperName() const noexcept { return upperName_; }

    virtual Variant ReadValue();
    virtual void WriteValue(const Variant& value);
    // Read or write with arguments and a parent value. The default copies the arguments into
    // the parameters, reads (or writes), and copies var parameters back into the frame; that
    // is only for items of one script. Items with parameters that may live in a shared scope
    // (registered functions, classes, member and element helpers) override both and keep
    // nothing of the call in their fields.
    virtual Variant ReadCall(TfsCallFrame& frame);
    virtual void WriteCall(TfsCallFrame& frame, const Variant& value);

    int ParamCount() const noexcept { return Count(); }
    TfsParamItem* Param(int i) const noexcept;
    int RequiredParamCount() const noexcept;
    virtual void AddParam(TfsParamItem* param); // takes ownership

private:
    std::string name_;
    std::string upperName_;
};

// A script variable (or constant when ReadOnly): converts what it stores by its type code.
class TfsVariable : public TfsCustomVariable {
public:
    using TfsCustomVariable::TfsCustomVariable;
    Variant ReadValue() override;
    void WriteValue(const Variant& value) override;
};

// Variables of type Char and String: Value always holds a varString.
class TfsStringVariable : public TfsVariable {
public:
    TfsStringVariable(std::string_view name, TfsVarType typeCode, std::string_view typeName);
    Variant ReadValue() override;
    void WriteValue(const Variant& value) override;
};

// A variable of a shared scope: each thread sees its own value, starting from Value.
class TfsThreadVariable : public TfsCustomVariable {
public:
    TfsThreadVariable(std::string_view name, TfsVarType typeCode, std::string_view typeName);
    ~TfsThreadVariable() override;
    Variant ReadValue() override;
    void WriteValue(const Variant& value) override;

private:
    Variant& Cell();
    uint32_t slot_;
    uint64_t serial_;
};

// A type name registered with DeclareType.
class TfsTypeVariable : public TfsCustomVariable {
public:
    using TfsCustomVariable::TfsCustomVariable;
};

class TfsParamItem : public TfsCustomVariable {
public:
    TfsParamItem(std::string_view name, TfsVarType typeCode, std::string_view typeName,
                 bool optional, bool byReference);
    bool Optional;
    bool ByReference;
    Variant DefaultValue = Variant::Null();
};

class TfsStatement;

// A script procedure or function. Its parameters are owned here and also entered by name
// (without ownership) in Body; a function's LinkedItem is the "Result" variable in Body.
class TfsProcVariable : public TfsCustomVariable {
public:
    TfsProcVariable(std::string_view name, TfsVarType typeCode, std::string_view typeName,
                    TfsScript* parent, bool isFunction = true);
    ~TfsProcVariable() override;

    bool IsFunction;
    bool Executing = false;
    TfsScript* Body() const noexcept { return body_.get(); }

    void AddParam(TfsParamItem* param) override;
    // Runs the body (the arguments are already in the parameters).
    Variant ReadValue() override;
    // Writes the arguments, runs the body, and copies var parameters back into the frame. A
    // recursive call saves the body's values first and restores them afterwards, also when an
    // error leaves the call.
    Variant ReadCall(TfsCallFrame& frame) override;
    void WriteValue(const Variant&) override {}

private:
    std::unique_ptr<TfsScript> body_;
    std::vector<TfsCustomVariable*> saved_; // items a recursive call saves
    int savedFor_ = -1;                     // Body item count saved_ was built for
};

class TfsCustomExpression : public TfsCustomVariable {
public:
    using TfsCustomVariable::TfsCustomVariable;
};

// Base of member helpers. The previous designator step's item and value and the running
// scope reach a helper through the frame (ParentItem, ParentValue, Program).
class TfsCustomHelper : public TfsCustomVariable {
public:
    using TfsCustomVariable::TfsCustomVariable;
};

// A registered function, method, constructor or indexed property.
class TfsMethodHelper : public TfsCustomHelper {
public:
    TfsMethodHelper(std::string_view prototype, const TfsScript* scope);
    ~TfsMethodHelper() override;

    std::string Category;
    std::string Description;
    TfsClassRef ClassRef = nullptr;
    TfsParamsCallEvent OnParamsCall; // array-style handler
    TfsHelperCallEvent OnHelperCall; // helper-style handler (wins when both are set)
    std::string Prototype;

    bool IsIndexProperty() const noexcept { return isIndexProperty_; }
    void SetIndexProperty(bool on);

    // A call through a frame (thread-safe for shared items).
    Variant ReadCall(TfsCallFrame& frame) override;
    void WriteCall(TfsCallFrame& frame, const Variant& value) override;
    // Calls with the parameters' current values (one thread only).
    Variant ReadValue() override;
    void WriteValue(const Variant& value) override;

    // The instance a call is applied to: none without a class or without a parent value,
    // else the live object the parent value refers to (a stale handle raises).
    TObject* InstanceOf(const TfsCallFrame& frame) const;

private:
    TfsMethodHelper(TfsPrototype&& proto, std::string_view text, const TfsScript* scope);
    Variant TakeParamValues();
    void GiveBackParamValues(Variant& array) noexcept;

    bool isIndexProperty_ = false;
    std::string getName_, setName_;
    std::atomic<PtArray*> paramValues_{nullptr}; // cached argument array (ParamValues)
};

// A registered class. Members are helpers owned by the class item. Published properties and
// the member kinds beyond methods come with the class catalogue.
class TfsClassVariable : public TfsCustomVariable {
public:
    TfsClassVariable(TfsClassRef cls, std::string_view ancestorName, TfsScript* program);

    TfsItemList Members;
    std::string AncestorName;
    TfsClassRef ClassRef;
    TfsScript* Program;
    TfsMethodHelper* DefaultProperty = nullptr;

    // First member of that name (case ignored), else the ancestor's, else none.
    TfsCustomVariable* FindMember(std::string_view name) const;
    void AddMember(TfsCustomVariable* member); // takes ownership

    TfsMethodHelper* DeclareMethod(std::string_view prototype, TfsHelperCallEvent handler);
    // "constructor Create(...)" becomes "function Create(...): Constructor".
    TfsMethodHelper* DeclareConstructor(std::string_view prototype, TfsHelperCallEvent handler);
    TfsMethodHelper* DeclareIndexProperty(std::string_view name, std::string_view paramTypes,
                                          std::string_view typeName, TfsHelperCallEvent handler,
                                          bool readOnly = false);
    TfsMethodHelper* DeclareDefaultProperty(std::string_view name, std::string_view paramTypes,
                                            std::string_view typeName, TfsHelperCallEvent handler,
                                            bool readOnly = false);

    // A cast with one argument gives the argument unchanged; without one the value is Null.
    Variant ReadCall(TfsCallFrame& frame) override;
    // The same with the parameter's own value, which is reset to Null (one thread only).
    Variant ReadValue() override;
};

// ---- statements ------------------------------------------------------------------------------

// A statement list; the statement classes derive from it. Owns its nested statements.
class TfsStatement : public TfsItemList {
public:
    TfsStatement(TfsScript* program, std::string sourcePos, std::string unitName)
        : Program(program), SourcePos(std::move(sourcePos)), UnitName(std::move(unitName)) {}
    TfsScript* Program;
    std::string SourcePos;
    std::string UnitName;
    // Performs the nested statements in order, stopping when break, continue or exit is
    // requested on Program.
    virtual void Perform();
};

// ---- registration modules --------------------------------------------------------------------

// A registration module declares its items into the scope in its constructor.
class TfsRTTIModule : public TfsItem {
public:
    explicit TfsRTTIModule(TfsScript* script) : Script(script) {}
    TfsScript* Script;
};

struct TfsModuleClass {
    const char* Name;
    TfsRTTIModule* (*Create)(TfsScript* script);
};

template <class T> const TfsModuleClass* ModuleClassOf(const char* name) {
    static const TfsModuleClass cls{name, [](TfsScript* s) -> TfsRTTIModule* { return new T(s); }};
    return &cls;
}

// The process-wide list of module classes, in installation order (a snapshot).
std::vector<const TfsModuleClass*> RegisteredModules();
// Appends (or, with first, puts in front: the system functions) a module class.
void RegisterModuleClass(const TfsModuleClass* cls, bool first = false);
void UnregisterModuleClass(const TfsModuleClass* cls) noexcept;

// A unit's start-up registration and shut-down removal of its module class.
template <class T> class TfsModuleRegistration {
public:
    explicit TfsModuleRegistration(const char* name, bool first = false)
        : cls_(ModuleClassOf<T>(name)) {
        RegisterModuleClass(cls_, first);
    }
    ~TfsModuleRegistration() { UnregisterModuleClass(cls_); }

private:
    const TfsModuleClass* cls_;
};

// ---- the script object and scope -------------------------------------------------------------

// A component (owner, name) with the published property SyntaxType.
class TfsScript : public TComponent, public TfsClassAncestry {
    PT_PUBLISHED_CLASS;

public:
    explicit TfsScript(TComponent* owner = nullptr);
    ~TfsScript() override;
    TfsScript(const TfsScript&) = delete;
    TfsScript& operator=(const TfsScript&) = delete;

    int AddedBy = 0;
    bool BreakRequested = false;
    bool ContinueRequested = false;
    bool ExitRequested = false;
    std::string ErrorText;
    std::string ErrorLocation;
    std::string ErrorUnitName;
    bool ExtendedCharset = false;
    bool IsRunning = false;
    std::vector<std::string> Lines;
    bool IsMainProgram = false;
    TfsGetUnitEvent OnGetILUnit;
    TfsGetUnitEvent OnGetUnit;
    TfsRunLineEvent OnRunLine;
    TfsGetVariableValueEvent OnGetVarValue;
    TfsScript* Parent = nullptr;
    TfsScript* ActiveProgram = nullptr;
    std::unique_ptr<TfsStatement> Statements;
    std::string SyntaxType = "PascalScript";
    std::vector<std::string> IncludePath{std::string()};
    bool LateBinding = false;
    // Set on the global unit: its items serve several threads at once.
    bool SharedAcrossThreads = false;

    bool ModulesInstalled() const noexcept { return modulesInstalled_; }

    // Unit name -> line numbers (as text, in ascending numeric order) holding statements.
    struct TUnitLines {
        std::string UnitName;
        std::vector<std::string> Lines;
    };
    const std::vector<TUnitLines>& UnitLines() const noexcept { return unitLines_; }

    // -- the item table
    void AddItem(std::string_view name, TfsItem* item); // takes ownership
    // Enters an item owned elsewhere (a procedure's parameters in its Body).
    void AddItemRef(std::string_view name, TfsCustomVariable* item);
    int ItemCount() const noexcept { return static_cast<int>(items_.size()); }
    TfsItem* ItemAt(int index) const noexcept { return items_[static_cast<size_t>(index)].item; }
    TfsCustomVariable* LookupLocal(std::string_view name) const;
    TfsCustomVariable* Lookup(std::string_view name) const;
    TfsClassVariable* LookupClass(std::string_view name) const;

    // -- running
    bool Compile();
    void Execute();
    void Reset();
    void InstallModules();
    void RemoveModules();
    void ReportLine(const std::string& unitName, const std::string& sourcePos);
    void RecordCodeLine(std::string_view unitName, std::string_view sourcePos);
    void SetValueOf(std::string_view name, const Variant& value);

    // -- registration
    virtual TfsClassVariable* DeclareClass(TfsClassRef cls, std::string_view ancestorName);
    virtual void DeclareConst(std::string_view name, std::string_view typeName,
                              const Variant& value);
    virtual void DeclareEnum(std::string_view typeName, std::string_view names);
    virtual void DeclareEnumSet(std::string_view typeName, std::string_view names);
    virtual TfsMethodHelper* DeclareMethod(std::string_view prototype, TfsHelperCallEvent handler,
                                           std::string_view category = {},
                                           std::string_view description = {});
    virtual TfsMethodHelper* DeclareMethod(std::string_view prototype, TfsParamsCallEvent handler,
                                           std::string_view category = {},
                                           std::string_view description = {});
    virtual void DeclareObject(std::string_view name, TObject* object);
    virtual void DeclareVariable(std::string_view name, std::string_view typeName,
                                 const Variant& value);
    virtual void DeclareType(std::string_view typeName, TfsVarType typeCode);

    // -- class questions for the type checks (through the scope chain)
    bool IsRegisteredClass(std::string_view typeName) const override;
    bool DescendsFrom(std::string_view typeName, std::string_view ancestorName) const override;

    // The front end installs the compiler at start-up: it selects the language named by
    // SyntaxType (raising "Language '%s' not found"), makes the intermediate form from Lines
    // and builds the program, filling ErrorText/ErrorLocation/ErrorUnitName on failure.
    using TfsCompiler = void (*)(TfsScript& script);
    static void SetCompiler(TfsCompiler compiler) noexcept;

private:
    struct Entry {
        std::string_view key; // upper-case name
        TfsItem* item;
        TfsCustomVariable* var; // item as a variable, or null
        bool ownsItem;
        bool ownsKey;
    };
    void Insert(std::string_view name, TfsItem* item, bool owns);
    const Entry* Find(std::string_view upperName) const noexcept;
    // Frees and removes the entries for which drop returns true.
    template <class Pred> void RemoveWhere(Pred drop);
    TfsCustomVariable* NewVariable(std::string_view name, std::string_view typeName,
                                   const Variant& value, bool readOnly);
    void DeclareEnumValues(std::string_view typeName, std::string_view names, bool bits);

    std::vector<Entry> items_;
    std::vector<TUnitLines> unitLines_;
    bool modulesInstalled_ = false;
};

// The type code of a type name: the code of the item the name finds through the scope
// chain; a name that no scope has is fvtClass.
TfsVarType TypeCodeOf(std::string_view typeName, const TfsScript* script);

// The process-wide scope of every built-in registration, created on first use with all
// registered modules installed; null once shut-down has begun.
TfsScript* GlobalUnit();

} // namespace pt
