// tests/app/test_startup.cpp: start-up in the release configuration, the
// check of an embedded image and the entry point.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "app/random.h"
#include "app/startup.h"
#include "app/upgrade_context.h"
#include "platform/win32.h"
#include "platform/window_core.h"

// This program is built as the release configuration: the target image only.
extern const int32_t build_initial_target_mode = 1;

namespace {

// Sets an environment variable for one test and puts back what was there.
class EnvironmentValue {
public:
    EnvironmentValue(const char *name, const char *value) : name_(name)
    {
        if (const char *old = std::getenv(name))
            old_ = old;
        setenv(name, value, 1);
    }
    ~EnvironmentValue()
    {
        if (old_)
            setenv(name_.c_str(), old_->c_str(), 1);
        else
            unsetenv(name_.c_str());
    }
    EnvironmentValue(const EnvironmentValue &) = delete;
    EnvironmentValue &operator=(const EnvironmentValue &) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

bool all_zero_bytes(const void *data, size_t size)
{
    const unsigned char *bytes = static_cast<const unsigned char *>(data);
    for (size_t i = 0; i < size; ++i)
        if (bytes[i] != 0)
            return false;
    return true;
}

std::vector<unsigned char> read_file(const char *path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in),
                                      std::istreambuf_iterator<char>());
}

// Every start-up here names its own loopback addresses, so the host lookup
// never goes to a name server.
class InitProgram : public ::testing::Test {
protected:
    void start_with_addresses(const char *addresses)
    {
        EnvironmentValue hook("NUV_HOST_ADDRESSES", addresses);
        init_program();
    }
};

TEST_F(InitProgram, ListsTheFirstEightAddressesInHostOrder)
{
    for (uint32_t &address : upgrade.local_addresses)
        address = 0xFFFFFFFFu;
    start_with_addresses("127.0.3.1,127.0.3.2,127.0.3.3,127.0.3.4,127.0.3.5,"
                         "127.0.3.6,127.0.3.7,127.0.3.8,127.0.3.9,127.0.3.10");
    for (uint32_t i = 0; i < 8; ++i)
        EXPECT_EQ(upgrade.local_addresses[i], 0x7F000301u + i) << "entry " << i;
    EXPECT_EQ(upgrade.local_address, 0x7F000301u);

    // A shorter list later leaves nothing of the longer one behind it.
    start_with_addresses("127.0.4.9,127.0.4.2");
    EXPECT_EQ(upgrade.local_addresses[0], 0x7F000409u);
    EXPECT_EQ(upgrade.local_addresses[1], 0x7F000402u);
    for (int i = 2; i < 8; ++i)
        EXPECT_EQ(upgrade.local_addresses[i], 0u) << "entry " << i;
    EXPECT_EQ(upgrade.local_address, 0x7F000409u);
}

TEST_F(InitProgram, FailedLookupLeavesNoAddresses)
{
    for (uint32_t &address : upgrade.local_addresses)
        address = 0x7F000001u;
    upgrade.local_address = 0x7F000001u;
    start_with_addresses("");
    EXPECT_TRUE(all_zero_bytes(upgrade.local_addresses, sizeof upgrade.local_addresses));
    EXPECT_EQ(upgrade.local_address, 0u);
}

TEST_F(InitProgram, ReleaseConfigurationClearsDigestAndLeavesTransitionEmpty)
{
    std::memset(&upgrade.digest, 0xA5, sizeof upgrade.digest);
    // Resource 319 is not in this program: start-up would end the process
    // had it looked for it.
    start_with_addresses("127.0.3.1");
    EXPECT_EQ(upgrade.target_mode.load(), 1);
    EXPECT_TRUE(all_zero_bytes(&upgrade.digest, sizeof upgrade.digest));
    EXPECT_EQ(upgrade.transition_image.data, nullptr);
    EXPECT_EQ(upgrade.transition_image.size, 0u);
    EXPECT_TRUE(all_zero_bytes(&upgrade.transition_image.header,
                               sizeof upgrade.transition_image.header));
}

TEST_F(InitProgram, MapsTheEmbeddedTargetImageInPlace)
{
    std::vector<unsigned char> file = read_file(NUV_APP_TEST_IMAGE);
    ASSERT_GE(file.size(), sizeof(FirmwareHeader));
    start_with_addresses("127.0.3.1");

    const FirmwareImage &image = upgrade.target_image;
    ASSERT_NE(image.data, nullptr);
    ASSERT_EQ(image.size, file.size());
    EXPECT_EQ(std::memcmp(image.data, file.data(), file.size()), 0);
    EXPECT_EQ(std::memcmp(&image.header, file.data(), sizeof image.header), 0);
    EXPECT_STREQ(image.header.version, "4.1.12(a)");
    EXPECT_STREQ(upgrade.model_name, "NUV-730/720");
    EXPECT_EQ(upgrade.is_phone, 1);
}

TEST_F(InitProgram, SeedsTheGeneratorWithTheTickCount)
{
    seed_random(0);
    DWORD before = timeGetTime();
    start_with_addresses("127.0.3.1");
    DWORD after = timeGetTime();
    int drawn[3] = {next_random(), next_random(), next_random()};

    // Some tick between the two readings must give the same three draws.
    bool found = false;
    for (DWORD tick = before; !found; ++tick) {
        uint32_t state = tick;
        bool same = true;
        for (int value : drawn) {
            state = state * 214013u + 2531011u;
            same = same && static_cast<int>((state >> 16) & 0x7fff) == value;
        }
        found = same;
        if (tick == after)
            break;
    }
    EXPECT_TRUE(found) << "no tick from " << before << " to " << after << " seeds "
                       << drawn[0] << ", " << drawn[1] << ", " << drawn[2];
}

struct ImageCheck {
    const char *name;
    std::vector<unsigned char> bytes;
    bool null_data;
    const char *failure;               // null: the image can be served
};

void PrintTo(const ImageCheck &c, std::ostream *os)
{
    *os << c.name;
}

std::vector<unsigned char> image_of(size_t size, unsigned char fill)
{
    return std::vector<unsigned char>(size, fill);
}

std::vector<unsigned char> with_byte(std::vector<unsigned char> bytes, size_t at,
                                     unsigned char value)
{
    bytes.at(at) = value;
    return bytes;
}

class CheckFirmwareImage : public ::testing::TestWithParam<ImageCheck> {};

TEST_P(CheckFirmwareImage, FailureText)
{
    const ImageCheck &c = GetParam();
    // A heap block of exactly the image's size: a sanitizer build sees any
    // read behind it.
    std::vector<unsigned char> image(c.bytes);
    unsigned char empty_resource = 0;
    const unsigned char *data = image.empty() ? &empty_resource : image.data();
    if (c.null_data)
        data = nullptr;
    const char *failure = check_firmware_image(data, static_cast<uint32_t>(image.size()));
    if (c.failure == nullptr)
        EXPECT_EQ(failure, nullptr) << failure;
    else
        EXPECT_STREQ(failure, c.failure);
}

INSTANTIATE_TEST_SUITE_P(Images, CheckFirmwareImage, ::testing::Values(
    ImageCheck{"null data", {}, true, "Upgrade Failed: Firmware image missing"},
    ImageCheck{"empty", {}, false, "Upgrade Failed: Firmware image too short"},
    ImageCheck{"127 bytes", image_of(127, 0), false, "Upgrade Failed: Firmware image too short"},
    ImageCheck{"no NUL in the version field", with_byte(image_of(128, 'v'), 10, 0), false,
               "Upgrade Failed: Firmware image damaged"},
    // The NUL that ends the version must lie inside the header.
    ImageCheck{"first NUL just behind the header", with_byte(image_of(200, 'v'), 128, 0), false,
               "Upgrade Failed: Firmware image damaged"},
    ImageCheck{"NUL at 127", with_byte(image_of(128, 'v'), 127, 0), false, nullptr},
    ImageCheck{"empty version", with_byte(image_of(128, 'v'), 92, 0), false, nullptr},
    ImageCheck{"the embedded test image", read_file(NUV_APP_TEST_IMAGE), false, nullptr}),
    [](const ::testing::TestParamInfo<ImageCheck> &info) {
        std::string name;
        for (const char *p = info.param.name; *p != '\0'; ++p)
            name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
        return name;
    });

// Stands in for a person who cancels the warning screen, so that WinMain
// runs to its end inside the test.
class CancelWarning : public FrontEnd {
public:
    void opened(HWND dialog, int template_id) override
    {
        if (template_id == 139)
            input_click(dialog, IDCANCEL);
        opened_count += 1;
    }
    void closed(HWND) override {}
    void message_box(HWND, UINT, const std::string &, const std::string &) override
    {
        boxes += 1;
    }
    void exiting(UINT) override {}
    int opened_count = 0;
    int boxes = 0;
};

TEST(WinMain, StoresTheInstanceAndStopsWhenTheClassCannotBeRegistered)
{
    static CancelWarning person;
    install_front_end(&person);
    EnvironmentValue hook("NUV_HOST_ADDRESSES", "127.0.3.1");
    HINSTANCE first = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x400000));
    HINSTANCE second = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x500000));
    upgrade.instance = nullptr;
    EXPECT_EQ(WinMain(first, nullptr, nullptr, SW_SHOWNORMAL), 0);
    EXPECT_EQ(upgrade.instance, first);
    EXPECT_STREQ(upgrade.model_name, "NUV-730/720");
    EXPECT_EQ(person.opened_count, 1) << "the warning screen, cancelled";
    EXPECT_EQ(person.boxes, 0);
    EXPECT_EQ(person.opened_count, 1) << "the warning screen, cancelled";
    EXPECT_EQ(person.boxes, 0);

    // "NuvUpgrade" is taken now: the second run must return before start-up.
    std::memset(upgrade.model_name, 0, sizeof upgrade.model_name);
    EXPECT_EQ(WinMain(second, nullptr, nullptr, SW_SHOWNORMAL), 0);
    EXPECT_EQ(upgrade.instance, first);
    EXPECT_STREQ(upgrade.model_name, "");
    EXPECT_EQ(person.opened_count, 1) << "no screen without the window class";
}

} // namespace
