#include "plugin/noxPluginRegistry.h"

#include "plugin/noxPluginModule.h"

#include <atomic>
#include <mutex>

namespace pt {

namespace {

std::shared_ptr<TnoxPlugin> CreateBasePlugin() {
    return std::make_shared<TnoxPlugin>();
}

std::atomic<TnoxPluginClass> g_pluginClass{&CreateBasePlugin};
std::atomic<TnoxPluginRegistry*> g_registry{nullptr};

// The registry lives from the library's start-up to its unload; at unload every remaining
// module object is destroyed before the registry itself.
struct RegistryLifetime {
    RegistryLifetime() { g_registry.store(new TnoxPluginRegistry); }
    ~RegistryLifetime() {
        TnoxPluginRegistry* r = g_registry.exchange(nullptr);
        if (!r) return;
        r->DestroyAll();
        delete r;
    }
} g_registryLifetime;

} // namespace

void SetPluginClass(TnoxPluginClass cls) noexcept {
    g_pluginClass.store(cls ? cls : &CreateBasePlugin);
}
TnoxPluginClass PluginClass() noexcept {
    return g_pluginClass.load();
}

TnoxPluginRegistry* PluginRegistry() noexcept {
    return g_registry.load();
}

std::shared_ptr<TnoxPlugin> TnoxPluginRegistry::Lookup(const TPluginCallRec* rec) noexcept {
    try {
        const uint32_t id = rec->InstanceId;
        const bool release = rec->ReleaseFlag == PT_RELEASE_FLAG;
        if (id == 0) return nullptr;
        if (!release) {
            std::shared_lock<std::shared_mutex> g(lock_);
            auto it = items_.find(id);
            if (it != items_.end()) return it->second;
        }
        std::shared_ptr<TnoxPlugin> doomed;
        {
            std::unique_lock<std::shared_mutex> g(lock_);
            auto it = items_.find(id);
            if (release) {
                if (it != items_.end()) {
                    doomed = std::move(it->second);
                    items_.erase(it);
                }
            } else {
                if (it != items_.end()) return it->second;
                std::shared_ptr<TnoxPlugin> obj = PluginClass()();
                if (!obj) return nullptr;
                obj->InstanceId = id;
                items_.emplace(id, obj);
                return obj;
            }
        }
        return nullptr; // `doomed` is destroyed here, outside the lock, unless a call still uses it
    } catch (...) {
        return nullptr;
    }
}

std::shared_ptr<TnoxPlugin> TnoxPluginRegistry::Find(uint32_t instanceId) const {
    std::shared_lock<std::shared_mutex> g(lock_);
    auto it = items_.find(instanceId);
    return it == items_.end() ? nullptr : it->second;
}

std::vector<std::shared_ptr<TnoxPlugin>> TnoxPluginRegistry::Snapshot() const {
    std::shared_lock<std::shared_mutex> g(lock_);
    std::vector<std::shared_ptr<TnoxPlugin>> out;
    out.reserve(items_.size());
    for (const auto& [id, obj] : items_) out.push_back(obj);
    return out;
}

size_t TnoxPluginRegistry::Count() const {
    std::shared_lock<std::shared_mutex> g(lock_);
    return items_.size();
}

void TnoxPluginRegistry::DestroyAll() noexcept {
    std::unordered_map<uint32_t, std::shared_ptr<TnoxPlugin>> doomed;
    {
        std::unique_lock<std::shared_mutex> g(lock_);
        doomed.swap(items_);
    }
}

} // namespace pt
