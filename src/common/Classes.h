// The base classes of the component model: TObject (run-time class information),
// TPersistent (published properties, Assign), TComponent (owner, name, owned components) and
// the string lists TStrings / TStringList, which also serve as class-typed property values.
//
// Ownership: a component owns the components it was created with as owner and deletes them
// when it is destroyed; a component with an owner must therefore live on the heap. A
// component leaving its owner (destroyed or re-inserted elsewhere) is removed from the
// owner's list first. Component references held in properties are not tracked: whoever
// publishes a reference must clear it before the referenced component dies.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/TypInfo.h"

namespace pt {

class TObject {
public:
    TObject() noexcept = default;
    TObject(const TObject&) noexcept {} // a copy is another object: no script handle
    TObject& operator=(const TObject&) noexcept { return *this; }
    virtual ~TObject(); // a handle that scripts hold becomes stale
    static const TClassInfo ClassInfo;
    virtual const TClassInfo& ClassType() const noexcept { return ClassInfo; }
    std::string_view ClassName() const noexcept { return ClassType().Name; }
    bool InheritsFrom(const TClassInfo& cls) const noexcept {
        return ClassType().InheritsFrom(cls);
    }

private:
    friend class TfsObjectTable;
    uint32_t scriptHandle_ = 0; // in the script object table (fs_objects); 0: never handed out
};

class TPersistent : public TObject {
    PT_PUBLISHED_CLASS;

public:
    // Copies the state of `source` as the class defines it; raises EConvertError-like
    // EPropertyError "Cannot assign a <source> to a <this>" when the class cannot.
    virtual void Assign(const TPersistent& source);
};

class TComponent : public TPersistent {
    PT_PUBLISHED_CLASS;

public:
    explicit TComponent(TComponent* owner = nullptr);
    ~TComponent() override;
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    const std::string& Name() const noexcept { return name_; }
    // Raises EPropertyError "A component named %s already exists" when a sibling owned by
    // the same owner has that name (without regard to case); the empty name is always allowed.
    void SetName(const std::string& name);
    int32_t Tag() const noexcept { return tag_; }
    void SetTag(int32_t tag) noexcept { tag_ = tag; }

    TComponent* Owner() const noexcept { return owner_; }
    int ComponentCount() const noexcept { return static_cast<int>(components_.size()); }
    TComponent* Components(int index) const { return components_.at(index); }
    // Owned component by name (without regard to case); null when there is none.
    TComponent* FindComponent(std::string_view name) const noexcept;
    // Moves `c` under this owner (taking it from its previous owner).
    void InsertComponent(TComponent* c);
    void RemoveComponent(TComponent* c) noexcept;

private:
    TComponent* owner_ = nullptr;
    std::vector<TComponent*> components_;
    std::string name_;
    int32_t tag_ = 0;
};

// Compares two texts without regard to ASCII letter case (<0, 0, >0).
int CompareTextNoCase(std::string_view a, std::string_view b) noexcept;
bool SameText(std::string_view a, std::string_view b) noexcept;

// A list of strings, each with an associated object reference (not owned). Positions count
// from 0; a position outside the list raises EListError "List index out of bounds (%d)".
// OnChange runs after every change outside BeginUpdate/EndUpdate, and once at the outermost
// EndUpdate when something changed inside.
class EListError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TStrings : public TPersistent {
    PT_PUBLISHED_CLASS;

public:
    virtual int Count() const noexcept = 0;
    virtual const std::string& Get(int index) const = 0;
    virtual void Put(int index, const std::string& s) = 0;
    virtual TObject* GetObject(int index) const = 0;
    virtual void PutObject(int index, TObject* obj) = 0;
    virtual void InsertObject(int index, const std::string& s, TObject* obj) = 0;
    virtual void Delete(int index) = 0;
    virtual void Clear() = 0;
    virtual int AddObject(const std::string& s, TObject* obj);
    // First position of `s` without regard to ASCII letter case; -1 when absent.
    virtual int IndexOf(std::string_view s) const;

    const std::string& operator[](int index) const { return Get(index); }
    int Add(const std::string& s) { return AddObject(s, nullptr); }
    void Insert(int index, const std::string& s) { InsertObject(index, s, nullptr); }
    void Move(int curIndex, int newIndex);
    int IndexOfName(std::string_view name) const;
    int IndexOfObject(const TObject* obj) const noexcept;

    // Every line followed by CR LF.
    std::string Text() const;
    // Splits at CR LF, LF and CR; a final line break adds no empty line.
    void SetText(std::string_view text);
    std::string CommaText() const;
    void SetCommaText(std::string_view text);
    std::string Names(int index) const;
    std::string Values(std::string_view name) const;
    // A non-empty value replaces or appends name=value; an empty one deletes the entry.
    void SetValues(std::string_view name, const std::string& value);

    bool LoadFromFile(const std::string& path); // false when the file cannot be read
    bool SaveToFile(const std::string& path) const;

    void Assign(const TPersistent& source) override;
    void BeginUpdate() noexcept { ++updateCount_; }
    void EndUpdate();

    std::function<void(TStrings&)> OnChange;

protected:
    void Changed();
    void CheckIndex(int index, int count) const;

private:
    int updateCount_ = 0;
    bool pendingChange_ = false;
};

enum TDuplicates : uint8_t { dupIgnore, dupAccept, dupError };

class TStringList : public TStrings {
    PT_PUBLISHED_CLASS;

public:
    TStringList() = default;
    TStringList(std::initializer_list<std::string> lines);

    int Count() const noexcept override { return static_cast<int>(items_.size()); }
    const std::string& Get(int index) const override;
    void Put(int index, const std::string& s) override;
    TObject* GetObject(int index) const override;
    void PutObject(int index, TObject* obj) override;
    void InsertObject(int index, const std::string& s, TObject* obj) override;
    void Delete(int index) override;
    void Clear() override;
    // Sorted lists insert at the sorted position and apply Duplicates.
    int AddObject(const std::string& s, TObject* obj) override;
    int IndexOf(std::string_view s) const override;

    // Binary search of a sorted list: whether found, and the position or insertion point.
    bool Find(std::string_view s, int& index) const;
    void Sort();
    bool Sorted() const noexcept { return sorted_; }
    void SetSorted(bool sorted);
    TDuplicates Duplicates() const noexcept { return duplicates_; }
    void SetDuplicates(TDuplicates d) noexcept { duplicates_ = d; }

protected:
    // The order of sorting and searching: ASCII letter case ignored.
    virtual int CompareStrings(std::string_view a, std::string_view b) const noexcept;

private:
    struct Item {
        std::string s;
        TObject* obj = nullptr;
    };
    std::vector<Item> items_;
    bool sorted_ = false;
    TDuplicates duplicates_ = dupIgnore;
};

extern const TEnumType DuplicatesType; // dupIgnore, dupAccept, dupError

} // namespace pt
