// The process-wide registry of module objects, one per instance number of the host, and the
// class reference that says which class to instantiate.
//
// Entries are shared pointers: a call that found an object keeps it alive until it returns,
// even when another thread releases that instance meanwhile (the object is then destroyed by
// whichever holder lets go last).
#pragma once

#include <pipetask/pipetask.h>

#include <cstdint>
#include <memory>
#include <shared_mutex>
#include <unordered_map>
#include <vector>

namespace pt {

class TnoxPlugin;

// The "class reference": makes a new module object of the registered class.
using TnoxPluginClass = std::shared_ptr<TnoxPlugin> (*)();
// Set at start-up by the program's module unit; TnoxPlugin until then.
void SetPluginClass(TnoxPluginClass cls) noexcept;
TnoxPluginClass PluginClass() noexcept;

class TnoxPluginRegistry {
public:
    // Find, create or release the object a record names. Null when the lookup fails: instance
    // 0, a release request (the object, if any, is removed and destroyed), or creation failed.
    // Searches hold the lock for reading; creation and removal for writing, and creation
    // searches again under it. The constructor of a module object runs under the write lock
    // and must not use the registry.
    std::shared_ptr<TnoxPlugin> Lookup(const TPluginCallRec* rec) noexcept;
    std::shared_ptr<TnoxPlugin> Find(uint32_t instanceId) const;
    std::vector<std::shared_ptr<TnoxPlugin>> Snapshot() const;
    size_t Count() const;
    // Removes every object (each is destroyed once its last user lets go).
    void DestroyAll() noexcept;

private:
    mutable std::shared_mutex lock_;
    std::unordered_map<uint32_t, std::shared_ptr<TnoxPlugin>> items_;
};

// The process-wide registry; null once the library is shutting down.
TnoxPluginRegistry* PluginRegistry() noexcept;

} // namespace pt
