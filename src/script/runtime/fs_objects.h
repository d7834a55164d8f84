// Native objects as scripts see them: class references and the process-wide table of live
// objects. Scripts never hold an address. An object reference in a script value is a 32-bit
// handle (varInteger) into this table; handle 0 is nil. Resolving a handle whose object has
// been unregistered, or whose object is not of the expected class, raises an error instead of
// touching memory.
//
// Invariants:
//  - A handle is (generation << kIndexBits) | index with index >= 1 and generation >= 1, so
//    every live handle is a positive int32 and never 0.
//  - A slot is reused only while more than kMinFreeSlots slots are free (oldest free slot
//    first), so a stale handle aliases a new object only after about two million
//    register/unregister cycles of the same slot.
//  - Resolving is lock-free; registering and unregistering take the table's mutex.
//  - The table does not own objects. Whoever frees an object unregisters it first (a class
//    deriving from TfsObject does so in its destructor). Using an object that another thread
//    frees at the same time is the caller's race; the table only guarantees that a handle of
//    an object unregistered before the call is refused.
#pragma once

#include "script/runtime/fs_variant.h"

#include <cstdint>
#include <string_view>

namespace pt {

// Describes a native class offered to scripts: its name and its ancestor (single inheritance).
// One static instance per class; a class reference is a pointer to it. The class catalogue
// adds its member tables on top of this.
struct TfsClassInfo {
    std::string_view Name;
    const TfsClassInfo* Parent = nullptr;
};
using TfsClassRef = const TfsClassInfo*;

// True when cls is ancestor or descends from it. A null ancestor accepts every class.
bool InheritsFrom(TfsClassRef cls, TfsClassRef ancestor) noexcept;

// Optional base of native objects: the object is unregistered when it is destroyed, and its
// handle is kept in the object so that handing it to a script needs no table search.
class TfsObject {
public:
    TfsObject() = default;
    TfsObject(const TfsObject&) = delete;
    TfsObject& operator=(const TfsObject&) = delete;
    virtual ~TfsObject();
    virtual TfsClassRef ClassType() const noexcept = 0;
    // Registers the object on first use; the handle stays valid until destruction.
    uint32_t Handle();

private:
    uint32_t handle_ = 0;
};

class TfsObjectTable {
public:
    static constexpr int kIndexBits = 20;
    static constexpr uint32_t kMaxObjects = (1u << kIndexBits) - 1;
    static constexpr uint32_t kMinFreeSlots = 1024;

    struct Entry {
        void* Object = nullptr;
        TfsClassRef Class = nullptr;
    };

    static TfsObjectTable& Instance() noexcept;

    // Returns the object's handle, registering it under cls when it is not registered yet.
    // The pointer registered is the pointer that handlers receive back.
    uint32_t Register(void* object, TfsClassRef cls);
    // Forgets the object; its handle becomes stale. Unknown objects are ignored.
    void Unregister(const void* object) noexcept;
    // The handle of a registered object, or 0.
    uint32_t HandleOf(const void* object) const noexcept;

    // Handle 0 gives an empty entry. A stale or malformed handle raises EAccessViolation
    // "Invalid object reference (handle N)".
    Entry Resolve(uint32_t handle) const;
    // As Resolve, and the object must be of class expected or of a class derived from it
    // (EInvalidCast "Invalid class typecast" otherwise). A null expected class accepts any.
    void* Resolve(uint32_t handle, TfsClassRef expected) const;

    size_t LiveCount() const noexcept;

private:
    TfsObjectTable();
    ~TfsObjectTable();
    struct Impl;
    Impl* impl_;
};

// An object reference as a script value (varInteger handle; nil gives 0).
Variant ObjectToVariant(void* object, TfsClassRef cls);
Variant ObjectToVariant(TfsObject* object);
// The object a script value refers to: Null, Empty and 0 give nullptr; anything else must be
// the handle of a live object of class expected (or derived from it).
void* VariantToObject(const Variant& v, TfsClassRef expected);

} // namespace pt
