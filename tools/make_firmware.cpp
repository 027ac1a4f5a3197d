// tools/make_firmware.cpp: writes a synthetic firmware image, the same bytes every time.
//
// The image has the shape the upgrader relies on: a 128-byte header with
// the key text at offset 0 and the NUL-terminated version text at offset
// 92, all its other bytes zero, and then filler. The filler comes from a
// linear congruential generator seeded from the header, so two images with
// different keys or versions differ all the way through (a test can tell
// which image a device was served), and its high byte has a period of
// 2^32: no block of an image repeats, so a shifted, lost or repeated TFTP
// block shows up in a byte-for-byte comparison.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

constexpr uint32_t kHeaderSize = 128;
constexpr uint32_t kVersionOffset = 92;
constexpr uint32_t kKeyCapacity = kVersionOffset;                   // key and its NUL
constexpr uint32_t kVersionCapacity = kHeaderSize - kVersionOffset;  // version and its NUL
constexpr uint32_t kMaxSize = 1u << 30;  // far beyond any image; keeps a typo from filling the disk
constexpr size_t kChunkSize = 65536;

constexpr char kUsage[] =
    "usage: make_firmware <output> <size> <key> <version>\n"
    "  Writes a synthetic firmware image of <size> bytes (128 to 1073741824):\n"
    "  <key> (1 to 91 printable ASCII characters) at offset 0, <version>\n"
    "  (1 to 35 printable ASCII characters, NUL-terminated) at offset 92, zero\n"
    "  bytes elsewhere in the 128-byte header, deterministic filler after it.\n";

struct Options {
    const char *output;
    uint32_t size;
    const char *key;
    const char *version;
};

// The filler generator: 32-bit state, the high byte of each new state.
struct Filler {
    uint32_t state;
};

uint8_t next_byte(Filler &filler) {
    filler.state = filler.state * 1664525u + 1013904223u;
    return static_cast<uint8_t>(filler.state >> 24);
}

// FNV-1a over the header: the filler's seed.
uint32_t header_seed(const uint8_t *header) {
    uint32_t hash = 2166136261u;
    for (uint32_t i = 0; i < kHeaderSize; ++i) {
        hash ^= header[i];
        hash *= 16777619u;
    }
    return hash;
}

// A decimal size with no sign, spaces or suffix; false when out of range.
bool parse_size(const char *text, uint32_t &size) {
    if (*text == '\0')
        return false;
    uint64_t value = 0;
    for (; *text != '\0'; ++text) {
        if (*text < '0' || *text > '9')
            return false;
        value = value * 10 + static_cast<uint64_t>(*text - '0');
        if (value > kMaxSize)
            return false;
    }
    if (value < kHeaderSize)
        return false;
    size = static_cast<uint32_t>(value);
    return true;
}

// A header text: 1 to capacity - 1 printable ASCII characters.
bool valid_text(const char *text, uint32_t capacity) {
    size_t length = std::strlen(text);
    if (length == 0 || length >= capacity)
        return false;
    for (size_t i = 0; i < length; ++i)
        if (text[i] < 0x20 || text[i] > 0x7e)
            return false;
    return true;
}

int usage_error(const char *why, const char *value) {
    std::fprintf(stderr, "make_firmware: %s: '%s'\n%s", why, value, kUsage);
    return 2;
}

int parse_options(int argc, char **argv, Options &options) {
    if (argc != 5) {
        std::fprintf(stderr, "make_firmware: expected 4 arguments, got %d\n%s", argc - 1, kUsage);
        return 2;
    }
    options.output = argv[1];
    options.key = argv[3];
    options.version = argv[4];
    if (options.output[0] == '\0')
        return usage_error("the output path is empty", options.output);
    if (!parse_size(argv[2], options.size))
        return usage_error("the size is not a number of bytes from 128 to 1073741824", argv[2]);
    if (!valid_text(options.key, kKeyCapacity))
        return usage_error("the key must be 1 to 91 printable ASCII characters", options.key);
    if (!valid_text(options.version, kVersionCapacity))
        return usage_error("the version must be 1 to 35 printable ASCII characters", options.version);
    return 0;
}

void build_header(const Options &options, uint8_t *header) {
    std::memset(header, 0, kHeaderSize);
    // valid_text has bounded both lengths below their fields' capacities,
    // so each copy leaves at least one NUL after the text.
    std::memcpy(header, options.key, std::strlen(options.key));
    std::memcpy(header + kVersionOffset, options.version, std::strlen(options.version));
}

bool write_image(const Options &options, std::FILE *file) {
    static uint8_t chunk[kChunkSize];
    build_header(options, chunk);
    Filler filler{header_seed(chunk)};
    uint32_t written = 0;
    size_t used = kHeaderSize;
    while (written < options.size) {
        size_t room = options.size - written;
        if (room > kChunkSize)
            room = kChunkSize;
        for (; used < room; ++used)
            chunk[used] = next_byte(filler);
        if (std::fwrite(chunk, 1, room, file) != room)
            return false;
        written += static_cast<uint32_t>(room);
        used = 0;
    }
    return true;
}

} // namespace

int main(int argc, char **argv) {
    Options options{};
    if (int status = parse_options(argc, argv, options); status != 0)
        return status;
    std::FILE *file = std::fopen(options.output, "wb");
    if (file == nullptr) {
        std::fprintf(stderr, "make_firmware: cannot create %s: %s\n", options.output, std::strerror(errno));
        return 1;
    }
    bool ok = write_image(options, file);
    int saved = errno;
    if (std::fclose(file) != 0 && ok) {
        ok = false;
        saved = errno;
    }
    if (!ok) {
        std::fprintf(stderr, "make_firmware: cannot write %s: %s\n", options.output, std::strerror(saved));
        std::remove(options.output);  // never leave half an image for the build to embed
        return 1;
    }
    return 0;
}
