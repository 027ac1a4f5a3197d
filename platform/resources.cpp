// platform/resources.cpp: FindResourceA and friends over the embedded table.
//
// The table (platform/embedded.h) is generated per program by the build.
// Entries whose type begins with '#' are the layer's own (the resource
// script and its include files) and are never found here. Handles are
// small numbers made from the table index (HRSRC and HGLOBAL in separate
// ranges), so a wrong or made-up handle is refused, not dereferenced.
#include "platform/win32.h"

#include <cctype>

#include "platform/embedded.h"

namespace {

constexpr uintptr_t resource_base = 0x10000;  // HRSRC: base + index
constexpr uintptr_t loaded_base = 0x20000;    // HGLOBAL: base + index
constexpr int max_entries = 0x10000;  // keeps the two handle ranges apart

// A resource name or type as Win32 reads it: an integer (MAKEINTRESOURCEA
// or the text "#123"), or a text compared without regard to case.
struct Key {
    bool is_integer = false;
    unsigned number = 0;
    const char *text = nullptr;
};

bool decimal(const char *text, unsigned *value) {
    if (*text == '\0')
        return false;
    unsigned number = 0;
    for (; *text != '\0'; ++text) {
        if (*text < '0' || *text > '9' || number > 0xffff)
            return false;
        number = number * 10 + static_cast<unsigned>(*text - '0');
    }
    if (number > 0xffff)
        return false;
    *value = number;
    return true;
}

Key key_of(LPCSTR name) {
    Key key;
    if (IS_INTRESOURCE(name)) {
        key.is_integer = true;
        key.number = static_cast<unsigned>(reinterpret_cast<ULONG_PTR>(name));
    } else if (name[0] == '#' && decimal(name + 1, &key.number)) {
        key.is_integer = true;
    } else {
        key.text = name;
    }
    return key;
}

bool same_text(const char *a, const char *b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b)
        if (std::toupper(static_cast<unsigned char>(*a)) !=
            std::toupper(static_cast<unsigned char>(*b)))
            return false;
    return *a == *b;
}

bool is_internal(const EmbeddedResource &entry) {
    return entry.type[0] == '#';
}

// An entry's type as written in the build: digits are an integer type.
bool type_matches(const EmbeddedResource &entry, const Key &type) {
    unsigned number = 0;
    bool entry_is_integer = decimal(entry.type, &number);
    if (type.is_integer)
        return entry_is_integer && number == type.number;
    return !entry_is_integer && same_text(entry.type, type.text);
}

// The entry behind a handle made with `base`, or null.
const EmbeddedResource *entry_of(const void *handle, uintptr_t base) {
    uintptr_t value = reinterpret_cast<uintptr_t>(handle);
    int count = embedded_resource_count < max_entries ? embedded_resource_count : max_entries;
    if (value < base || value >= base + static_cast<uintptr_t>(count))
        return nullptr;
    const EmbeddedResource &entry = embedded_resources[value - base];
    return is_internal(entry) ? nullptr : &entry;
}

} // namespace

HRSRC FindResourceA(HMODULE /*module*/, LPCSTR name, LPCSTR type) {
    if (name == nullptr || type == nullptr)
        return nullptr;
    Key name_key = key_of(name);
    Key type_key = key_of(type);
    // The build names every embedded resource by number.
    if (!name_key.is_integer)
        return nullptr;
    for (int i = 0; i < embedded_resource_count && i < max_entries; ++i) {
        const EmbeddedResource &entry = embedded_resources[i];
        if (is_internal(entry) || entry.id < 0 ||
            static_cast<unsigned>(entry.id) != name_key.number || !type_matches(entry, type_key))
            continue;
        return reinterpret_cast<HRSRC>(resource_base + static_cast<uintptr_t>(i));
    }
    return nullptr;
}

DWORD SizeofResource(HMODULE /*module*/, HRSRC resource) {
    const EmbeddedResource *entry = entry_of(resource, resource_base);
    return entry == nullptr ? 0 : static_cast<DWORD>(entry->end - entry->begin);
}

HGLOBAL LoadResource(HMODULE /*module*/, HRSRC resource) {
    const EmbeddedResource *entry = entry_of(resource, resource_base);
    if (entry == nullptr)
        return nullptr;
    return reinterpret_cast<HGLOBAL>(loaded_base + static_cast<uintptr_t>(entry - embedded_resources));
}

LPVOID LockResource(HGLOBAL loaded) {
    const EmbeddedResource *entry = entry_of(loaded, loaded_base);
    // The bytes are read-only, as a real module's resources are.
    return entry == nullptr ? nullptr : const_cast<unsigned char *>(entry->begin);
}
