// tests/tools/test_icons.cpp: the icons kept in resources/ are well-formed 32 by 32, 16-colour .ico files.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <ostream>
#include <set>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

constexpr size_t kDirectorySize = 6 + 16;
constexpr size_t kInfoSize = 40;
constexpr size_t kPaletteSize = 16 * 4;
constexpr size_t kColourRow = 16;  // 32 pixels of 4 bits
constexpr size_t kMaskRow = 4;     // 32 bits, already a multiple of 4 bytes
constexpr size_t kImageSize = kInfoSize + kPaletteSize + (kColourRow + kMaskRow) * 32;

Bytes read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

uint32_t le16(const Bytes &b, size_t at) {
    return static_cast<uint32_t>(b.at(at)) | static_cast<uint32_t>(b.at(at + 1)) << 8;
}

uint32_t le32(const Bytes &b, size_t at) {
    return le16(b, at) | le16(b, at + 2) << 16;
}

struct IconFile {
    const char *name;
    const char *path;
    int clear_top_rows;  // the picture's top rows that are all see-through
};

// Names the case in test output by its icon.
void PrintTo(const IconFile &icon, std::ostream *out) {
    *out << icon.name;
}

class Icon : public ::testing::TestWithParam<IconFile> {
protected:
    void SetUp() override { icon_ = read_file(GetParam().path); }

    // The colour index and transparency of pixel (x, y), y counted from the
    // top as the picture is drawn; the file stores rows bottom-up.
    int colour(int x, int y) const {
        size_t row = kDirectorySize + kInfoSize + kPaletteSize + static_cast<size_t>(31 - y) * kColourRow;
        uint8_t pair = icon_.at(row + static_cast<size_t>(x / 2));
        return x % 2 == 0 ? pair >> 4 : pair & 0x0f;
    }
    bool transparent(int x, int y) const {
        size_t row = kDirectorySize + kInfoSize + kPaletteSize + 32 * kColourRow +
                     static_cast<size_t>(31 - y) * kMaskRow;
        return (icon_.at(row + static_cast<size_t>(x / 8)) >> (7 - x % 8) & 1) != 0;
    }

    Bytes icon_;
};

TEST_P(Icon, DirectoryDescribesOne32By32SixteenColourImage) {
    ASSERT_EQ(icon_.size(), kDirectorySize + kImageSize);
    EXPECT_EQ(le16(icon_, 0), 0u);  // reserved
    EXPECT_EQ(le16(icon_, 2), 1u);  // an icon, not a cursor
    EXPECT_EQ(le16(icon_, 4), 1u);  // one image
    EXPECT_EQ(icon_[6], 32);        // width
    EXPECT_EQ(icon_[7], 32);        // height
    EXPECT_EQ(icon_[8], 16);        // colours
    EXPECT_EQ(icon_[9], 0);         // reserved
    EXPECT_EQ(le16(icon_, 10), 1u);  // planes
    EXPECT_EQ(le16(icon_, 12), 4u);  // bits a pixel
    EXPECT_EQ(le32(icon_, 14), kImageSize);
    EXPECT_EQ(le32(icon_, 18), kDirectorySize);
}

TEST_P(Icon, BitmapHeaderCountsColourBitmapAndMask) {
    const size_t at = kDirectorySize;
    ASSERT_GE(icon_.size(), at + kInfoSize);
    EXPECT_EQ(le32(icon_, at), kInfoSize);
    EXPECT_EQ(le32(icon_, at + 4), 32u);
    EXPECT_EQ(le32(icon_, at + 8), 64u) << "the height covers the colour rows and the mask rows";
    EXPECT_EQ(le16(icon_, at + 12), 1u);
    EXPECT_EQ(le16(icon_, at + 14), 4u);
    EXPECT_EQ(le32(icon_, at + 16), 0u) << "uncompressed";
    EXPECT_EQ(le32(icon_, at + 20), (kColourRow + kMaskRow) * 32);
    EXPECT_EQ(le32(icon_, at + 32), 16u) << "colours used";
}

TEST_P(Icon, PaletteHoldsSixteenDistinctColours) {
    const size_t at = kDirectorySize + kInfoSize;
    ASSERT_GE(icon_.size(), at + kPaletteSize);
    std::set<uint32_t> colours;
    for (size_t i = 0; i < 16; ++i) {
        EXPECT_EQ(icon_[at + i * 4 + 3], 0) << "reserved byte of entry " << i;
        colours.insert(le32(icon_, at + i * 4));
    }
    EXPECT_EQ(colours.size(), 16u);
    EXPECT_EQ(le32(icon_, at), 0x000000u) << "entry 0, under every transparent pixel, is black";
    EXPECT_EQ(le32(icon_, at + 15 * 4), 0xffffffu) << "entry 15 is white";
}

// A transparent pixel must be colour 0: the colour bitmap is combined with
// the screen by XOR, so any other colour would tint what shows through.
TEST_P(Icon, PixelsAreOpaqueOrCleanlyTransparent) {
    ASSERT_EQ(icon_.size(), kDirectorySize + kImageSize);
    int see_through = 0;
    std::set<int> used;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) {
            if (transparent(x, y)) {
                ++see_through;
                EXPECT_EQ(colour(x, y), 0) << GetParam().name << " at " << x << "," << y;
            } else {
                used.insert(colour(x, y));
            }
        }
    EXPECT_GT(see_through, 0) << "the corners show the background";
    EXPECT_LT(see_through, 32 * 32 * 3 / 4) << "at least a quarter of the icon is drawn";
    EXPECT_GE(used.size(), 4u) << "a picture, not a blot";
}

// Rows are stored bottom-up: read that way, the picture's empty top rows
// must come out on top, and the first drawn row right below them.
TEST_P(Icon, RowsAreStoredBottomUp) {
    ASSERT_EQ(icon_.size(), kDirectorySize + kImageSize);
    const int clear = GetParam().clear_top_rows;
    for (int y = 0; y < clear; ++y)
        for (int x = 0; x < 32; ++x)
            EXPECT_TRUE(transparent(x, y)) << GetParam().name << " at " << x << "," << y;
    int drawn = 0;
    for (int x = 0; x < 32; ++x)
        drawn += !transparent(x, clear);
    EXPECT_GT(drawn, 0) << GetParam().name << " row " << clear;
}

INSTANTIATE_TEST_SUITE_P(Resources, Icon,
                         ::testing::Values(IconFile{"program", PROGRAM_ICON, 2},
                                           IconFile{"adapter", ADAPTER_ICON, 9}),
                         [](const ::testing::TestParamInfo<IconFile> &info) { return info.param.name; });

} // namespace
