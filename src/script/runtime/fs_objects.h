// Native objects as scripts see them: the process-wide table of live objects. Scripts never
// hold an address. An object reference in a script value is a 32-bit handle (varInteger) into
// this table; handle 0 is nil. Resolving a handle whose object has been destroyed, or whose
// object is not of the expected class, raises an error instead of touching memory.
//
// Invariants:
//  - Every object scripts see is a TObject (common/Classes.h); a class reference is its
//    TClassInfo. An object is registered the first time it is handed to a script and keeps
//    that handle until it is destroyed: ~TObject unregisters it.
//  - A handle is (generation << kIndexBits) | index with index >= 1 and generation >= 1, so
//    every live handle is a positive int32 and never 0.
//  - A slot is reused only while more than kMinFreeSlots slots are free (oldest free slot
//    first), so a stale handle aliases a new object only after about two million
//    register/unregister cycles of the same slot.
//  - Resolving is lock-free; registering and unregistering take the table's mutex.
//  - The table does not own objects. Using an object that another thread destroys at the same
//    time is the caller's race; the table guarantees that a handle of an object destroyed
//    before the call is refused.
#pragma once

#include "common/Classes.h"
#include "script/runtime/fs_variant.h"

#include <cstdint>

namespace pt {

using TfsClassRef = const TClassInfo*;

// True when cls is ancestor or descends from it. A null ancestor accepts every class.
bool InheritsFrom(TfsClassRef cls, TfsClassRef ancestor) noexcept;

class TfsObjectTable {
public:
    static constexpr int kIndexBits = 20;
    static constexpr uint32_t kMaxObjects = (1u << kIndexBits) - 1;
    static constexpr uint32_t kMinFreeSlots = 1024;

    static TfsObjectTable& Instance() noexcept;

    // The object's handle, registering the object when it has none (null gives 0).
    uint32_t Register(TObject* object);
    // Forgets the object; its handle becomes stale. ~TObject calls it.
    void Unregister(TObject* object) noexcept;
    // The handle of a registered object, or 0.
    static uint32_t HandleOf(const TObject* object) noexcept;

    // Handle 0 gives null. A stale or malformed handle raises EAccessViolation
    // "Invalid object reference (handle N)".
    TObject* Resolve(uint32_t handle) const;
    // As Resolve, and the object must be of class expected or of a class derived from it
    // (EInvalidCast "Invalid class typecast" otherwise). A null expected class accepts any.
    TObject* Resolve(uint32_t handle, TfsClassRef expected) const;

    size_t LiveCount() const noexcept;

private:
    TfsObjectTable();
    ~TfsObjectTable();
    struct Impl;
    Impl* impl_;
};

// An object reference as a script value (varInteger handle; nil gives 0).
Variant ObjectToVariant(TObject* object);
// The object a script value refers to: Null, Empty and 0 give null; anything else must be the
// handle of a live object of class expected (or derived from it).
TObject* VariantToObject(const Variant& v, TfsClassRef expected);

} // namespace pt
