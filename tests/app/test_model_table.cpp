// tests/app/test_model_table.cpp: identification of the device family from
// the image header's key text.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <ostream>
#include <string>

#include "app/model_table.h"
#include "app/upgrade_context.h"

namespace {

// A header as an image carries it: the key bytes, then zero bytes.
FirmwareHeader header_with(const std::string &key)
{
    FirmwareHeader header;
    std::memset(&header, 0, sizeof header);
    std::memcpy(header.key, key.data(), std::min(key.size(), sizeof header.key));
    return header;
}

struct Identification {
    std::string key;
    const char *model_name;
    int32_t is_phone;
};

void PrintTo(const Identification &c, std::ostream *os)
{
    *os << '"' << c.key << '"';
}

class IdentifyModel : public ::testing::TestWithParam<Identification> {};

TEST_P(IdentifyModel, GivesNameAndKind)
{
    const Identification &c = GetParam();
    // Garbage first: the name must be copied whole with its NUL, and
    // is_phone must not keep an earlier value.
    std::memset(upgrade.model_name, 'x', sizeof upgrade.model_name);
    upgrade.is_phone = 1 - c.is_phone;
    identify_model(header_with(c.key));
    EXPECT_STREQ(upgrade.model_name, c.model_name);
    EXPECT_EQ(upgrade.is_phone, c.is_phone);
}

// Each row's own key, as it is written, finds that row.
INSTANTIATE_TEST_SUITE_P(EveryRow, IdentifyModel, ::testing::Values(
    Identification{"nuv4100", "NUV-4100", 0},
    Identification{"nuv2200", "NUV-1200/2200", 0},
    Identification{"nuv1201", "NUV-1201", 0},
    Identification{"torvan9", "NUV-730/720", 1},
    Identification{"StOrVaM", "NUV-740/725", 1},
    Identification{"tOrV705", "NUV-705", 1},
    Identification{"torvan", "NUV-640", 1},
    Identification{"quorvix", "Quorvix DAX2", 0},
    Identification{"QxDaX2V3", "Quorvix DAX2T", 0},
    Identification{"nuv2300", "NUV-2300", 0},
    Identification{"NuV3302", "NUV-3302", 0},
    Identification{"NuV8000t", "NUV8000", 0},
    Identification{"nuv8000", "NUV-8000", 0}));

// Exact rows refuse another case; the others take any case, but fold only
// the letters A-Z.
INSTANTIATE_TEST_SUITE_P(CaseRules, IdentifyModel, ::testing::Values(
    Identification{"STORVAM", "ODM-Product", 0},
    Identification{"storvam", "ODM-Product", 0},
    Identification{"NUV3302", "ODM-Product", 0},
    Identification{"nuv3302", "ODM-Product", 0},
    Identification{"TORV705", "NUV-705", 1},
    Identification{"QXDAX2V3", "Quorvix DAX2T", 0},
    Identification{"qxdax2v3", "Quorvix DAX2T", 0},
    Identification{"QUORVIX", "Quorvix DAX2", 0},
    Identification{"NUV4100", "NUV-4100", 0},
    // 0x14 differs from '4' only in the bit that separates the cases of
    // letters; a fold of every byte would take it for the digit.
    Identification{std::string("nuv\x14" "100"), "ODM-Product", 0},
    // Latin-1 capital N with tilde, which a locale might fold to n-tilde.
    Identification{std::string("\xd1uv4100"), "ODM-Product", 0}));

// The first matching row wins; keys are prefixes of the header's text.
INSTANTIATE_TEST_SUITE_P(RowOrder, IdentifyModel, ::testing::Values(
    Identification{"tOrVaN9 fIrMwArE", "NUV-730/720", 1},  // row 4 before row 7
    Identification{"torvanX", "NUV-640", 1},
    Identification{"TORVAN", "NUV-640", 1},
    Identification{"NuV8000t", "NUV8000", 0},   // exact row 12 before row 13
    Identification{"nuv8000t", "NUV-8000", 0},
    Identification{"NUV8000T", "NUV-8000", 0},
    Identification{"nuv4100 and more", "NUV-4100", 0}));

INSTANTIATE_TEST_SUITE_P(NoMatch, IdentifyModel, ::testing::Values(
    Identification{"", "ODM-Product", 0},
    Identification{"nuv410", "ODM-Product", 0},  // one byte short of a key
    Identification{"torva", "ODM-Product", 0},
    Identification{"xnuv4100", "ODM-Product", 0},
    Identification{"nuv 4100", "ODM-Product", 0}));

TEST(FindModel, GivesTheTableRowOrNull)
{
    const ModelEntry *row = find_model(header_with("tOrVaN9 fIrMwArE"));
    ASSERT_NE(row, nullptr);
    EXPECT_STREQ(row->key, "torvan9");
    EXPECT_EQ(row->compare_length, 7u);
    EXPECT_FALSE(row->exact_case);
    EXPECT_EQ(find_model(header_with("unknown")), nullptr);
}

TEST(IdentifyModelDefault, ResetsPhoneFlagAfterAPhone)
{
    identify_model(header_with("torvan9"));
    ASSERT_EQ(upgrade.is_phone, 1);
    identify_model(header_with("nothing known"));
    EXPECT_STREQ(upgrade.model_name, "ODM-Product");
    EXPECT_EQ(upgrade.is_phone, 0);
}

} // namespace
