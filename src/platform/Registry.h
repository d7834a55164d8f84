// The registry, kept in files. Each root key is a folder:
//   HKEY_LOCAL_MACHINE  $PIPETASK_REGISTRY_HKLM, else /etc/pipetask/registry/HKLM
//   HKEY_CURRENT_USER   $PIPETASK_REGISTRY_HKCU, else $XDG_CONFIG_HOME (or ~/.config)
//                       /pipetask/registry/HKCU
//   HKEY_CLASSES_ROOT, HKEY_USERS, HKEY_CURRENT_CONFIG: $PIPETASK_REGISTRY_HKCR / _HKU / _HKCC,
//                       else /etc/pipetask/registry/HKCR / HKU / HKCC
// A key is a folder below its root (key names match without regard to case; "/", "%" and a
// leading "." are written as %XX); its values live in the text file ".values" in that folder,
// one value per line:   "name"=dword:0000002a | "name"=sz:"text" | "name"=hex:01,ff
//                       | "name"=hex(7):...   ("@" instead of a quoted name: the default value)
// Lines that do not parse are kept as they are when the file is rewritten. Every change
// rewrites the file atomically (a temporary file, then rename) under an flock of the folder.
//
// Access is always full access: a key opens only when its folder and its root's folder can be
// written (by their permission bits, which count for every user including root), so a root
// that cannot be written behaves like one that cannot be opened with full access.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace pt {

enum class TRegRootKey : uint8_t {
    HKEY_CLASSES_ROOT,
    HKEY_CURRENT_USER,
    HKEY_LOCAL_MACHINE,
    HKEY_USERS,
    HKEY_CURRENT_CONFIG,
};

// Value types, with the registry's numbers.
enum TRegValueType : uint32_t {
    REG_NONE = 0,
    REG_SZ = 1,
    REG_EXPAND_SZ = 2,
    REG_BINARY = 3,
    REG_DWORD = 4,
};

class ERegistryException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The folder of a root key (environment override applied).
std::string RegistryRootFolder(TRegRootKey root);

class TRegistry {
public:
    struct Value {
        uint32_t type = REG_NONE;
        std::string data; // REG_SZ: the text; REG_DWORD: 4 bytes little-endian; others raw
    };

    explicit TRegistry(TRegRootKey root = TRegRootKey::HKEY_CURRENT_USER) : root_(root) {}

    TRegRootKey RootKey() const noexcept { return root_; }
    void SetRootKey(TRegRootKey root) {
        CloseKey();
        root_ = root;
    }

    // Opens `key` ("A\B\C"; leading, trailing and doubled "\" ignored) below the root with
    // full access; creates it when missing and `canCreate`. False when it cannot be opened.
    bool OpenKey(std::string_view key, bool canCreate);
    void CloseKey() noexcept { folder_.clear(); }
    bool HasCurrentKey() const noexcept { return !folder_.empty(); }
    bool KeyExists(std::string_view key) const;

    // Values of the current key; names match without regard to case; "" is the default value.
    bool ValueExists(std::string_view name) const;
    std::optional<Value> ReadValue(std::string_view name) const;
    std::vector<std::string> GetValueNames() const;
    std::vector<std::string> GetKeyNames() const;

    // Raise ERegistryException "Invalid data type for '<name>'" when the value is of another
    // type (or of the wrong size), "Failed to get data for '<name>'" when it is missing.
    int32_t ReadInteger(std::string_view name) const;
    double ReadFloat(std::string_view name) const;       // REG_BINARY, 8 bytes, IEEE little-endian
    std::string ReadString(std::string_view name) const; // REG_SZ or REG_EXPAND_SZ

    // Raise ERegistryException "Failed to set data for '<name>'" when the key file cannot be
    // written.
    void WriteValue(std::string_view name, const Value& value);
    void WriteInteger(std::string_view name, int32_t value);
    void WriteFloat(std::string_view name, double value);
    void WriteString(std::string_view name, std::string_view value);
    bool DeleteValue(std::string_view name);

private:
    std::string KeyFolder(std::string_view key, bool create, bool* ok) const;
    TRegRootKey root_;
    std::string folder_; // folder of the open key; empty when none is open
};

} // namespace pt
