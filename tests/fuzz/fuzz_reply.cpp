// tests/fuzz/fuzz_reply.cpp: a device's reply as the HTTP exchange handles
// it once received: the classification of its status line, the challenge
// of a 401, and the scraping of the five page values into DeviceInfo.
#include <cstdint>
#include <cstring>
#include <vector>

#include "http/device_info.h"
#include "http/digest_state.h"
#include "http/exchange.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// The reply buffer's capacity as every caller passes it.
constexpr size_t kReplyCapacity = 131071;
constexpr int kFieldLimit = 127;

struct Label {
    const char *text;
    char (DeviceInfo::*field)[128];
};

// The labels of the device's page, in the order the exchange scrapes them.
constexpr Label kLabels[] = {
    {"Product Name:", &DeviceInfo::product_name},
    {"MAC Address:", &DeviceInfo::mac_address},
    {"Software Version:", &DeviceInfo::software_version},
    {"Hardware Version:", &DeviceInfo::hardware_version},
    {"Serial Number:", &DeviceInfo::serial_number},
};

constexpr char kEarlier[] = "from an earlier page";

bool digest_terminated(const DigestState &s)
{
    return terminated_within(s.previous_nonce, sizeof s.previous_nonce) &&
           terminated_within(s.nonce, sizeof s.nonce) &&
           terminated_within(s.cnonce, sizeof s.cnonce) &&
           terminated_within(s.realm, sizeof s.realm) &&
           terminated_within(s.qop, sizeof s.qop) &&
           terminated_within(s.algorithm, sizeof s.algorithm) &&
           terminated_within(s.opaque, sizeof s.opaque);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // No bytes: no reply, which the exchange never classifies.
    if (size == 0)
        return 0;
    // The receive stops at the capacity and keeps the text NUL-terminated
    // behind the last byte; NUL bytes inside the reply stay where they are.
    size_t received = size < kReplyCapacity ? size : kReplyCapacity;
    std::vector<char> reply(received + 1);
    std::memcpy(reply.data(), data, received);
    reply[received] = '\0';
    const char *text = reply.data();

    DigestState digest{};
    int verdict = classify_reply(text, &digest);
    FUZZ_CHECK(verdict >= -2 && verdict <= 2);
    FUZZ_CHECK(digest_terminated(digest));
    if (verdict == 1) {
        // Authentication needed: nothing is scraped, and the challenge
        // held a realm and a nonce directive.
        FUZZ_CHECK(std::strstr(text, "realm=\"") != nullptr);
        FUZZ_CHECK(std::strstr(text, "nonce=\"") != nullptr);
        FUZZ_CHECK(std::strncmp(text, "HTTP/1.1", 8) == 0);
        return 0;
    }

    DeviceInfo info;
    for (const Label &label : kLabels)
        std::memcpy(info.*label.field, kEarlier, sizeof kEarlier);
    for (const Label &label : kLabels)
        scrape_field(text, label.text, info.*label.field, kFieldLimit);

    for (const Label &label : kLabels) {
        const char *value = info.*label.field;
        FUZZ_CHECK(terminated_within(value, sizeof info.product_name));
        if (std::strstr(text, label.text) == nullptr) {
            FUZZ_CHECK(std::strcmp(value, kEarlier) == 0);  // a missing label keeps the value
            continue;
        }
        if (std::strcmp(value, kEarlier) == 0)
            continue;  // no ">" after the label: kept as well
        // A value is text of the page up to the next tag, cut at 127.
        FUZZ_CHECK(std::strlen(value) <= static_cast<size_t>(kFieldLimit));
        FUZZ_CHECK(std::strchr(value, '<') == nullptr);
        FUZZ_CHECK(std::strstr(text, value) != nullptr);
    }
    return 0;
}
