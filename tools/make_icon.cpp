// tools/make_icon.cpp: draws the program's 16-colour icons from text pictures into .ico files.
//
// Each picture is 32 rows of 32 characters: a hexadecimal digit is an
// entry of the standard 16-colour palette, '.' is transparent. An .ico
// file holds one 32 by 32 image at 4 bits a pixel: the icon directory, one
// entry, a BITMAPINFOHEADER whose height counts both the colour bitmap and
// the transparency mask (64), the palette, the colour rows bottom-up and
// the mask rows bottom-up, every row padded to 4 bytes.
#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

constexpr int kSide = 32;
constexpr int kColours = 16;
constexpr size_t kDirectorySize = 6 + 16;  // ICONDIR and one ICONDIRENTRY
constexpr size_t kInfoSize = 40;           // BITMAPINFOHEADER
constexpr size_t kPaletteSize = kColours * 4;
constexpr size_t kColourRowSize = (kSide * 4 / 8 + 3) / 4 * 4;
constexpr size_t kMaskRowSize = (kSide / 8 + 3) / 4 * 4;
constexpr size_t kImageSize = kInfoSize + kPaletteSize + (kColourRowSize + kMaskRowSize) * kSide;
constexpr size_t kFileSize = kDirectorySize + kImageSize;

using Picture = std::array<const char *, kSide>;

struct Colour {
    uint8_t red, green, blue;
};

// The 16 colours every display of the icon's era could show.
constexpr Colour kPalette[kColours] = {
    {0x00, 0x00, 0x00}, {0x80, 0x00, 0x00}, {0x00, 0x80, 0x00}, {0x80, 0x80, 0x00},
    {0x00, 0x00, 0x80}, {0x80, 0x00, 0x80}, {0x00, 0x80, 0x80}, {0xc0, 0xc0, 0xc0},
    {0x80, 0x80, 0x80}, {0xff, 0x00, 0x00}, {0x00, 0xff, 0x00}, {0xff, 0xff, 0x00},
    {0x00, 0x00, 0xff}, {0xff, 0x00, 0xff}, {0x00, 0xff, 0xff}, {0xff, 0xff, 0xff},
};

// A desk telephone: handset, display, keypad.
constexpr Picture kProgramPicture = {
    "................................",
    "................................",
    "....000000000000000000000000....",
    "...00777777777777777777777700...",
    "..0888888888888888888888888880..",
    "..0888888800000000000088888880..",
    "..088888880..........088888880..",
    "..080000080..........080000080..",
    "..000000000..........000000000..",
    "................................",
    ".000000000000000000000000000000.",
    ".0cccccccccccccccccccccccccccc0.",
    ".044444444444444444444444444440.",
    ".044400000000000000000044444440.",
    ".04440eeeeeeeeeeeeeeee044994440.",
    ".04440eeeeeeeeeeeeeeee044994440.",
    ".04440eeeeeeeeeeeeeeee044444440.",
    ".044406666666666666666044444440.",
    ".044400000000000000000044444440.",
    ".044444444444444444444444444440.",
    ".044444444444444444444444444440.",
    ".044444000004000004000004aaa440.",
    ".0444440fff040fff040fff04aaa440.",
    ".044444000004000004000004444440.",
    ".044444000004000004000004444440.",
    ".0444440fff040fff040fff04bbb440.",
    ".044444000004000004000004bbb440.",
    ".044444000004000004000004444440.",
    ".0444440fff040fff040fff04444440.",
    ".044444000004000004000004444440.",
    ".000000000000000000000000000000.",
    "................................",
};

// A telephone adapter: a box with two telephone ports, a network port and
// its lights, a cord.
constexpr Picture kAdapterPicture = {
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "......0000000000000000000000000.",
    ".....0fffffffffffffffffffffff00.",
    "....0fffffffffffffffffffffff080.",
    "...0fffffffffffffffffffffff0880.",
    "..0fffffffffffffffffffffff08880.",
    ".000000000000000000000000008880.",
    ".0ffffffffffffffffffffffff08880.",
    ".077aa77aa77bb77997777777708880.",
    ".077777777777777777777777708880.",
    ".077000000700000070000007708880.",
    ".077088880708888070888807708880.",
    ".077000000700000070000007708880.",
    ".077000000700000070000007708880.",
    ".07700000070000007007700770880..",
    ".0770000007000000700770077080...",
    ".077777777777777777777777700....",
    ".00000000000000000000000000.....",
    "......0.........................",
    "......0.........................",
    ".......0...00...................",
    "........000..0..................",
    "..............00................",
    "................................",
};

struct NamedPicture {
    const char *name;
    const Picture *picture;
};

constexpr NamedPicture kPictures[] = {
    {"program", &kProgramPicture},
    {"adapter", &kAdapterPicture},
};

constexpr int pixel_value(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

constexpr bool well_drawn(const Picture &picture) {
    for (const char *row : picture) {
        int length = 0;
        for (; row[length] != '\0'; ++length)
            if (row[length] != '.' && pixel_value(row[length]) < 0)
                return false;
        if (length != kSide)
            return false;
    }
    return true;
}
static_assert(well_drawn(kProgramPicture), "every row: 32 of 0-9, a-f or '.'");
static_assert(well_drawn(kAdapterPicture), "every row: 32 of 0-9, a-f or '.'");

// The file is built in a fixed buffer; every store checks its room.
struct IconBuffer {
    uint8_t bytes[kFileSize];
    size_t used;
    bool overflow;
};

void put8(IconBuffer &out, uint32_t value) {
    if (out.used >= kFileSize) {
        out.overflow = true;
        return;
    }
    out.bytes[out.used++] = static_cast<uint8_t>(value);
}

void put16(IconBuffer &out, uint32_t value) {
    put8(out, value & 0xff);
    put8(out, (value >> 8) & 0xff);
}

void put32(IconBuffer &out, uint32_t value) {
    put16(out, value & 0xffff);
    put16(out, (value >> 16) & 0xffff);
}

void put_directory(IconBuffer &out) {
    put16(out, 0);  // reserved
    put16(out, 1);  // type: icon
    put16(out, 1);  // one image
    put8(out, kSide);
    put8(out, kSide);
    put8(out, kColours);
    put8(out, 0);   // reserved
    put16(out, 1);  // planes
    put16(out, 4);  // bits a pixel
    put32(out, kImageSize);
    put32(out, kDirectorySize);  // the image follows the directory
}

void put_info_and_palette(IconBuffer &out) {
    put32(out, kInfoSize);
    put32(out, kSide);
    put32(out, kSide * 2);  // colour bitmap and mask together
    put16(out, 1);
    put16(out, 4);
    put32(out, 0);  // no compression
    put32(out, (kColourRowSize + kMaskRowSize) * kSide);
    put32(out, 0);
    put32(out, 0);
    put32(out, kColours);
    put32(out, 0);
    for (const Colour &colour : kPalette) {
        put8(out, colour.blue);
        put8(out, colour.green);
        put8(out, colour.red);
        put8(out, 0);
    }
}

// A transparent pixel is colour 0 under a set mask bit, so the screen
// shows through unchanged.
void put_colour_row(IconBuffer &out, const char *row) {
    for (int x = 0; x < kSide; x += 2) {
        int left = pixel_value(row[x]);
        int right = pixel_value(row[x + 1]);
        put8(out, static_cast<uint32_t>(((left < 0 ? 0 : left) << 4) | (right < 0 ? 0 : right)));
    }
    for (size_t pad = kSide / 2; pad < kColourRowSize; ++pad)
        put8(out, 0);
}

void put_mask_row(IconBuffer &out, const char *row) {
    for (int x = 0; x < kSide; x += 8) {
        uint32_t bits = 0;
        for (int bit = 0; bit < 8; ++bit)
            if (row[x + bit] == '.')
                bits |= 0x80u >> bit;
        put8(out, bits);
    }
    for (size_t pad = kSide / 8; pad < kMaskRowSize; ++pad)
        put8(out, 0);
}

void build_icon(const Picture &picture, IconBuffer &out) {
    out.used = 0;
    out.overflow = false;
    put_directory(out);
    put_info_and_palette(out);
    for (int y = kSide - 1; y >= 0; --y)
        put_colour_row(out, picture[static_cast<size_t>(y)]);
    for (int y = kSide - 1; y >= 0; --y)
        put_mask_row(out, picture[static_cast<size_t>(y)]);
}

const Picture *find_picture(const char *name) {
    for (const NamedPicture &entry : kPictures)
        if (std::strcmp(entry.name, name) == 0)
            return entry.picture;
    return nullptr;
}

int usage(const char *why) {
    std::fprintf(stderr,
                 "make_icon: %s\n"
                 "usage: make_icon <picture> <output.ico>\n"
                 "  <picture>: program (icon 286) or adapter (icon 106)\n",
                 why);
    return 2;
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 3)
        return usage("expected 2 arguments");
    const Picture *picture = find_picture(argv[1]);
    if (picture == nullptr)
        return usage("there is no such picture");
    static IconBuffer icon;
    build_icon(*picture, icon);
    if (icon.overflow || icon.used != kFileSize) {
        std::fprintf(stderr, "make_icon: the icon came out at %zu bytes, not %zu\n", icon.used, kFileSize);
        return 1;
    }
    std::FILE *file = std::fopen(argv[2], "wb");
    if (file == nullptr) {
        std::fprintf(stderr, "make_icon: cannot create %s: %s\n", argv[2], std::strerror(errno));
        return 1;
    }
    bool ok = std::fwrite(icon.bytes, 1, icon.used, file) == icon.used;
    if (std::fclose(file) != 0)
        ok = false;
    if (!ok) {
        std::fprintf(stderr, "make_icon: cannot write %s\n", argv[2]);
        std::remove(argv[2]);
        return 1;
    }
    return 0;
}
