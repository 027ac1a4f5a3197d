// tests/app/test_device_address.cpp: the reader of the typed device address.
#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>

#include "app/device_address.h"

namespace {

constexpr uint32_t ip(uint32_t a, uint32_t b, uint32_t c, uint32_t d)
{
    return a << 24 | b << 16 | c << 8 | d;
}

struct AddressCase {
    std::string text;
    int code;
    uint32_t result;
};

void PrintTo(const AddressCase &c, std::ostream *os)
{
    *os << '"' << c.text << "\" -> " << c.code;
}

class ParseDeviceAddress : public ::testing::TestWithParam<AddressCase> {};

TEST_P(ParseDeviceAddress, CodeAndResult)
{
    const AddressCase &c = GetParam();
    // A stale value must not survive a refusal.
    uint32_t result = 0xDEADBEEFu;
    EXPECT_EQ(parse_device_address(c.text.c_str(), &result), c.code);
    EXPECT_EQ(result, c.result);
}

INSTANTIATE_TEST_SUITE_P(Accepted, ParseDeviceAddress, ::testing::Values(
    AddressCase{"10.1.0.13", 0, ip(10, 1, 0, 13)},
    AddressCase{"10*1*0*13", 0, ip(10, 1, 0, 13)},
    AddressCase{"10*1.0*13", 0, ip(10, 1, 0, 13)},
    AddressCase{"010.001.000.013", 0, ip(10, 1, 0, 13)},  // decimal, not octal
    AddressCase{"255.255.255.255", 0, ip(255, 255, 255, 255)},
    AddressCase{"1..2.3.4", 0, ip(1, 2, 3, 4)},
    AddressCase{".1.2.3.4.", 0, ip(1, 2, 3, 4)},
    AddressCase{".*1.*2**3.4*", 0, ip(1, 2, 3, 4)},
    AddressCase{"0.0.0.0", 0, 0},
    AddressCase{"000000000.1.2.3", 0, ip(0, 1, 2, 3)},  // nine digits, still 0
    AddressCase{"192.168.200.254", 0, ip(192, 168, 200, 254)}));

INSTANTIATE_TEST_SUITE_P(Refused, ParseDeviceAddress, ::testing::Values(
    AddressCase{"", 4, 0},
    AddressCase{"1.2.3", 4, 0},
    AddressCase{"1.2.34", 4, 0},                // 6 characters
    AddressCase{"10.1.0.1300000000", 4, 0},     // 17 characters
    AddressCase{"1.2.3.4.5.6.7.89", 4, 0},      // 16 characters
    AddressCase{"10.1.0.130000000x", 4, 0},     // length is checked first
    AddressCase{"1.2.3.4.5.6.7.8", 2, 0},       // 15 characters
    AddressCase{"1.2.3.4.5", 2, 0},
    AddressCase{"1.2.3.4.999", 2, 0},           // the count before the value
    AddressCase{"999.22.33.44", 1, 0},
    AddressCase{"1.2.3.256", 1, 0},
    AddressCase{"9999999", 1, 0},               // one part of seven digits
    AddressCase{"1.2.3.4567", 1, 0},
    AddressCase{"1.2.3.999.5", 1, 0},           // the fourth part is reached first
    // Ten or more digits: too large as a whole number, not wrapped to a
    // small one (4294967297 is 2^32 + 1), and before the count at the end.
    AddressCase{"1.2.4294967297", 1, 0},
    AddressCase{"4294967296.1.2", 1, 0},
    AddressCase{"99999999999.1.1", 1, 0},
    AddressCase{"1.22.33", 3, 0},
    AddressCase{"1.2.3..", 3, 0},
    AddressCase{".......", 3, 0},
    AddressCase{"*******", 3, 0},
    AddressCase{"10.1.0.13x", 5, 0},
    AddressCase{" 10.1.0.13", 5, 0},
    AddressCase{"10.1.0.13 ", 5, 0},
    AddressCase{"10,1,0,13", 5, 0},
    AddressCase{"10.1.-0.13", 5, 0},
    AddressCase{"0x0a.1.0.13", 5, 0}));

TEST(ParseDeviceAddressResult, MayBeOmitted)
{
    EXPECT_EQ(parse_device_address("10.1.0.13", nullptr), 0);
    EXPECT_EQ(parse_device_address("1.2.3.256", nullptr), 1);
    EXPECT_EQ(parse_device_address("1.2.3.4.5", nullptr), 2);
    EXPECT_EQ(parse_device_address("1.2.3..", nullptr), 3);
    EXPECT_EQ(parse_device_address("1.2", nullptr), 4);
    EXPECT_EQ(parse_device_address("1.2.3.4x", nullptr), 5);
}

TEST(ParseDeviceAddressResult, NullTextReadsAsEmpty)
{
    uint32_t result = 7;
    EXPECT_EQ(parse_device_address(nullptr, &result), 4);
    EXPECT_EQ(result, 0u);
}

TEST(ParseDeviceAddressText, IsLeftAsItWas)
{
    // Bytes after the NUL too: the reader must stop at the terminator.
    char text[24] = "10*1..0*13";
    std::memset(text + 11, '7', sizeof text - 11);
    char before[sizeof text];
    std::memcpy(before, text, sizeof text);
    uint32_t result = 0;
    EXPECT_EQ(parse_device_address(text, &result), 0);
    EXPECT_EQ(result, ip(10, 1, 0, 13));
    EXPECT_EQ(std::memcmp(text, before, sizeof text), 0);
}

TEST(ParseDeviceAddressText, LongTextIsRefusedByItsLength)
{
    // Refused by its length alone; a sanitizer build catches a reader that
    // copies such a text into its 16-byte work buffer.
    std::string text(4096, '1');
    uint32_t result = 1;
    EXPECT_EQ(parse_device_address(text.c_str(), &result), 4);
    EXPECT_EQ(result, 0u);
}

} // namespace
