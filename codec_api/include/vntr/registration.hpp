// A codec library's registration: a constant table of key records that
// DllRegisterServer writes into the registry and DllUnregisterServer removes.
#pragma once

#include <cstdint>
#include <span>

namespace vntr::registration {

enum class Root : uint8_t { LocalMachine, CurrentUser };

struct Value {
    const char *name;
    const char *data; // a leading "<WinDir>" (any case) stands for the system root
};

struct KeyRecord {
    Root root;
    const char *subkey;
    std::span<const Value> values; // written in this order
};

// S_OK (0) when every key was created and every value set, else 0x80040201.
int32_t Register(std::span<const KeyRecord> records);
// Always S_OK: missing keys and values are skipped, keys that still hold
// something else are left.
int32_t Unregister(std::span<const KeyRecord> records);

} // namespace vntr::registration
