#include "script/runtime/fs_objects.h"

#include "script/runtime/fs_errors.h"

#include <atomic>
#include <deque>
#include <mutex>
#include <string>

namespace pt {

namespace {

constexpr uint32_t kChunkBits = 12;
constexpr uint32_t kChunkSize = 1u << kChunkBits;
constexpr uint32_t kChunkCount = (TfsObjectTable::kMaxObjects + 1) / kChunkSize;
constexpr uint32_t kIndexMask = TfsObjectTable::kMaxObjects;
constexpr uint32_t kMaxGeneration = (1u << (31 - TfsObjectTable::kIndexBits)) - 1;

// tag is the slot's full handle while an object is registered, 0 otherwise. Readers check it
// before and after reading the payload, so a concurrent unregister is never missed.
struct Slot {
    std::atomic<uint32_t> tag{0};
    std::atomic<TObject*> object{nullptr};
    uint32_t generation = 0; // written under the mutex only
};

[[noreturn]] void RaiseStale(uint32_t handle) {
    RaiseError("EAccessViolation",
               "Invalid object reference (handle " + std::to_string(handle) + ")");
}

} // namespace

bool InheritsFrom(TfsClassRef cls, TfsClassRef ancestor) noexcept {
    if (!ancestor) return true;
    return cls && cls->InheritsFrom(*ancestor);
}

struct TfsObjectTable::Impl {
    std::atomic<Slot*> chunks[kChunkCount] = {};
    mutable std::mutex lock;
    std::deque<uint32_t> freeSlots; // guarded by lock, oldest first
    uint32_t top = 0;               // highest index ever used
    std::atomic<size_t> live{0};

    Slot* SlotAt(uint32_t index) const noexcept {
        Slot* chunk = chunks[index >> kChunkBits].load(std::memory_order_acquire);
        return chunk ? &chunk[index & (kChunkSize - 1)] : nullptr;
    }

    Slot& NewSlot(uint32_t& index) {
        if (freeSlots.size() > kMinFreeSlots || (top == kMaxObjects && !freeSlots.empty())) {
            index = freeSlots.front();
            freeSlots.pop_front();
            return *SlotAt(index);
        }
        if (top == kMaxObjects) RaiseError("Too many live objects");
        index = ++top;
        auto& chunk = chunks[index >> kChunkBits];
        if (!chunk.load(std::memory_order_relaxed))
            chunk.store(new Slot[kChunkSize], std::memory_order_release);
        return *SlotAt(index);
    }
};

TfsObjectTable::TfsObjectTable() : impl_(new Impl) {}

TfsObjectTable::~TfsObjectTable() {
    for (auto& c : impl_->chunks) delete[] c.load();
    delete impl_;
}

TfsObjectTable& TfsObjectTable::Instance() noexcept {
    // Never destroyed: objects may unregister during static destruction.
    static TfsObjectTable* table = new TfsObjectTable;
    return *table;
}

uint32_t TfsObjectTable::Register(TObject* object) {
    if (!object) return 0;
    std::lock_guard<std::mutex> g(impl_->lock);
    if (object->scriptHandle_) return object->scriptHandle_;
    uint32_t index = 0;
    Slot& s = impl_->NewSlot(index);
    s.generation = s.generation >= kMaxGeneration ? 1 : s.generation + 1;
    const uint32_t handle = (s.generation << kIndexBits) | index;
    s.object.store(object, std::memory_order_release);
    s.tag.store(handle, std::memory_order_release);
    object->scriptHandle_ = handle;
    impl_->live.fetch_add(1, std::memory_order_relaxed);
    return handle;
}

void TfsObjectTable::Unregister(TObject* object) noexcept {
    if (!object) return;
    std::lock_guard<std::mutex> g(impl_->lock);
    const uint32_t handle = object->scriptHandle_;
    if (!handle) return;
    object->scriptHandle_ = 0;
    const uint32_t index = handle & kIndexMask;
    Slot& s = *impl_->SlotAt(index);
    s.tag.store(0, std::memory_order_release);
    s.object.store(nullptr, std::memory_order_relaxed);
    impl_->freeSlots.push_back(index);
    impl_->live.fetch_sub(1, std::memory_order_relaxed);
}

uint32_t TfsObjectTable::HandleOf(const TObject* object) noexcept {
    return object ? object->scriptHandle_ : 0;
}

TObject* TfsObjectTable::Resolve(uint32_t handle) const {
    if (handle == 0) return nullptr;
    const uint32_t index = handle & kIndexMask;
    Slot* s = (handle >> 31) == 0 && index != 0 ? impl_->SlotAt(index) : nullptr;
    if (!s || s->tag.load(std::memory_order_acquire) != handle) RaiseStale(handle);
    // An acquire load: a pointer stored by a later registration of this slot carries the
    // preceding unregistration with it, so the second tag check sees the change.
    TObject* object = s->object.load(std::memory_order_acquire);
    if (s->tag.load(std::memory_order_acquire) != handle || !object) RaiseStale(handle);
    return object;
}

TObject* TfsObjectTable::Resolve(uint32_t handle, TfsClassRef expected) const {
    TObject* object = Resolve(handle);
    if (object && !InheritsFrom(&object->ClassType(), expected))
        RaiseError("EInvalidCast", "Invalid class typecast");
    return object;
}

size_t TfsObjectTable::LiveCount() const noexcept {
    return impl_->live.load(std::memory_order_relaxed);
}

Variant ObjectToVariant(TObject* object) {
    return Variant(static_cast<int32_t>(TfsObjectTable::Instance().Register(object)));
}

TObject* VariantToObject(const Variant& v, TfsClassRef expected) {
    if (v.IsNull() || v.IsEmpty()) return nullptr;
    return TfsObjectTable::Instance().Resolve(static_cast<uint32_t>(v.ToInt()), expected);
}

} // namespace pt
