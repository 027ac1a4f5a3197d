// app/model_table.cpp: the model table and the identification by header key.
#include "app/model_table.h"

#include <cstring>

#include "app/upgrade_context.h"

constexpr ModelEntry model_table[model_table_rows] = {
    {"nuv4100", 7, false, "NUV-4100", 0},
    {"nuv2200", 7, false, "NUV-1200/2200", 0},
    {"nuv1201", 7, false, "NUV-1201", 0},
    {"torvan9", 7, false, "NUV-730/720", 1},  // before "torvan", its prefix
    {"StOrVaM", 7, true, "NUV-740/725", 1},
    {"tOrV705", 7, false, "NUV-705", 1},
    {"torvan", 6, false, "NUV-640", 1},
    {"quorvix", 7, false, "Quorvix DAX2", 0},
    {"QxDaX2V3", 8, false, "Quorvix DAX2T", 0},
    {"nuv2300", 7, false, "NUV-2300", 0},
    {"NuV3302", 7, true, "NUV-3302", 0},
    {"NuV8000t", 8, true, "NUV8000", 0},  // before the case-blind "nuv8000"
    {"nuv8000", 7, false, "NUV-8000", 0},
};

namespace {

constexpr char default_model_name[] = "ODM-Product";

constexpr uint32_t text_length(const char *text)
{
    uint32_t length = 0;
    while (text[length] != '\0')
        ++length;
    return length;
}

// A key longer than its compare length would silently match on a prefix;
// a name too long would not fit the screens' captions.
constexpr bool table_is_consistent()
{
    for (const ModelEntry &entry : model_table) {
        if (text_length(entry.key) != entry.compare_length)
            return false;
        if (entry.compare_length > sizeof(FirmwareHeader::key))
            return false;
        if (text_length(entry.display_name) > 13)
            return false;
    }
    return true;
}
static_assert(table_is_consistent(), "every key's length is its compare length");
static_assert(sizeof(default_model_name) <= sizeof(UpgradeContext::model_name));

// Only A-Z fold: a locale's toupper could make other bytes equal, and a
// plain "| 0x20" would make control bytes equal to digits.
constexpr unsigned char fold_ascii(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

bool key_matches(const ModelEntry &entry, const FirmwareHeader &header)
{
    for (uint32_t i = 0; i < entry.compare_length; ++i) {
        unsigned char have = static_cast<unsigned char>(header.key[i]);
        unsigned char want = static_cast<unsigned char>(entry.key[i]);
        if (entry.exact_case ? have != want : fold_ascii(have) != fold_ascii(want))
            return false;
    }
    return true;
}

void copy_name(const char *name)
{
    size_t length = std::strlen(name);
    if (length >= sizeof upgrade.model_name)
        length = sizeof upgrade.model_name - 1;
    std::memcpy(upgrade.model_name, name, length);
    upgrade.model_name[length] = '\0';
}

} // namespace

const ModelEntry *find_model(const FirmwareHeader &header)
{
    for (const ModelEntry &entry : model_table)
        if (key_matches(entry, header))
            return &entry;
    return nullptr;
}

void identify_model(const FirmwareHeader &header)
{
    upgrade.is_phone = 0;
    const ModelEntry *entry = find_model(header);
    if (entry == nullptr) {
        copy_name(default_model_name);
        return;
    }
    copy_name(entry->display_name);
    upgrade.is_phone = entry->is_phone;
}
