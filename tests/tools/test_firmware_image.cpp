// tests/tools/test_firmware_image.cpp: the synthetic firmware images and the tool that makes them.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <algorithm>
#include <iterator>
#include <set>
#include <spawn.h>
#include <string>
#include <string_view>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

constexpr size_t kHeaderSize = 128;
constexpr size_t kVersionOffset = 92;
constexpr size_t kBlockSize = 512;

using Bytes = std::vector<uint8_t>;

Bytes read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool file_exists(const std::string &path) {
    return std::filesystem::exists(path);
}

struct RunResult {
    int status = -1;  // the exit status, or -1 when the tool did not exit normally
    std::string errors;
};

// Runs make_firmware with `args` and collects what it writes to standard error.
RunResult make_firmware(const std::vector<std::string> &args) {
    RunResult result;
    int pipe_ends[2];
    if (::pipe(pipe_ends) != 0)
        return result;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], STDERR_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipe_ends[0]);
    std::vector<char *> argv;
    std::string tool = MAKE_FIRMWARE;
    argv.push_back(tool.data());
    std::vector<std::string> copies(args);
    for (std::string &arg : copies)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    int spawned = posix_spawn(&pid, tool.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipe_ends[1]);
    char buffer[512];
    for (ssize_t n; (n = ::read(pipe_ends[0], buffer, sizeof buffer)) > 0;)
        result.errors.append(buffer, static_cast<size_t>(n));
    ::close(pipe_ends[0]);
    int wait_status = 0;
    if (spawned == 0 && ::waitpid(pid, &wait_status, 0) == pid && WIFEXITED(wait_status))
        result.status = WEXITSTATUS(wait_status);
    return result;
}

// Each test writes into a folder of its own, so tests can run side by side.
class MakeFirmware : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::path(TOOLS_TEST_WORK) /
               ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string path(const char *name) const { return (dir_ / name).string(); }

    Bytes make(const char *name, const char *size, const char *key, const char *version) {
        std::string file = path(name);
        RunResult run = make_firmware({file, size, key, version});
        EXPECT_EQ(run.status, 0) << run.errors;
        return read_file(file);
    }

private:
    std::filesystem::path dir_;
};

std::string text_at(const Bytes &image, size_t offset, size_t capacity) {
    std::string text;
    for (size_t i = offset; i < offset + capacity && i < image.size() && image[i] != 0; ++i)
        text += static_cast<char>(image[i]);
    return text;
}

// Bytes [from, to) are all zero.
bool zero_between(const Bytes &image, size_t from, size_t to) {
    for (size_t i = from; i < to; ++i)
        if (image[i] != 0)
            return false;
    return true;
}

// The smallest p in 1..max_period such that the filler repeats itself
// every p bytes, or 0 when there is none.
size_t short_period(const Bytes &image, size_t max_period) {
    for (size_t p = 1; p <= max_period; ++p) {
        bool repeats = true;
        for (size_t i = kHeaderSize; i + p < image.size() && repeats; ++i)
            repeats = image[i] == image[i + p];
        if (repeats)
            return p;
    }
    return 0;
}

// Counts the TFTP blocks (512 bytes from the start) equal to an earlier one.
size_t repeated_blocks(const Bytes &image) {
    std::set<std::string_view> seen;
    size_t repeats = 0;
    const char *bytes = reinterpret_cast<const char *>(image.data());
    for (size_t at = 0; at + kBlockSize <= image.size(); at += kBlockSize)
        if (!seen.insert(std::string_view(bytes + at, kBlockSize)).second)
            ++repeats;
    return repeats;
}

TEST(SyntheticReleaseImage, HasTheReleaseSizeKeyAndVersion) {
    Bytes image = read_file(SYNTHETIC_RELEASE_IMAGE);
    ASSERT_EQ(image.size(), 751211u);
    EXPECT_EQ(text_at(image, 0, kVersionOffset), "tOrVaN9 fIrMwArE");
    EXPECT_TRUE(zero_between(image, 16, kVersionOffset)) << "the key is followed by zero bytes";
    EXPECT_EQ(text_at(image, kVersionOffset, kHeaderSize - kVersionOffset), "4.1.12(a)");
    EXPECT_TRUE(zero_between(image, kVersionOffset + 9, kHeaderSize))
        << "the header's other bytes are zero";
}

TEST(SyntheticReleaseImage, FillerHasNoShortPeriodAndNoRepeatedBlock) {
    Bytes image = read_file(SYNTHETIC_RELEASE_IMAGE);
    ASSERT_GT(image.size(), 100 * kBlockSize);
    // Period 1 includes all zeros; 512 and 1024 would hide a repeated or
    // lost block.
    EXPECT_EQ(short_period(image, 4 * kBlockSize), 0u);
    EXPECT_EQ(repeated_blocks(image), 0u);
}

TEST_F(MakeFirmware, RemakesTheReleaseImageByteForByte) {
    Bytes again = make("release.bin", "751211", "tOrVaN9 fIrMwArE", "4.1.12(a)");
    Bytes built = read_file(SYNTHETIC_RELEASE_IMAGE);
    ASSERT_EQ(again.size(), built.size());
    EXPECT_TRUE(again == built) << "two runs with the same arguments gave different bytes";
}

// The filler is seeded from the header: the transition image of a build
// differs from its target image beyond the header too, so a test can tell
// which one a device was served.
TEST_F(MakeFirmware, FillerDependsOnTheHeader) {
    Bytes target = make("target.bin", "65536", "nuv2200", "2.4.1(c)");
    Bytes transition = make("transition.bin", "65536", "nuv2200", "2.0.9(t)");
    ASSERT_EQ(target.size(), 65536u);
    ASSERT_EQ(transition.size(), 65536u);
    size_t same = 0;
    for (size_t i = kHeaderSize; i < target.size(); ++i)
        same += target[i] == transition[i];
    // Unrelated bytes agree about once in 256.
    EXPECT_LT(same, (target.size() - kHeaderSize) / 64);
}

// Image sizes around the 64 KiB chunks the tool writes in, and a header
// filled to the last byte of each field.
TEST_F(MakeFirmware, WritesExactSizesAndLongestTexts) {
    const std::string key(91, 'k');
    const std::string version(35, 'v');
    for (const char *size : {"128", "129", "65535", "65536", "65537", "131200"}) {
        Bytes image = make("sized.bin", size, key.c_str(), version.c_str());
        ASSERT_EQ(image.size(), std::stoul(size)) << size;
        EXPECT_EQ(text_at(image, 0, kVersionOffset), key) << size;
        EXPECT_EQ(image[kVersionOffset - 1], 0) << "the key's NUL, size " << size;
        EXPECT_EQ(text_at(image, kVersionOffset, kHeaderSize - kVersionOffset), version) << size;
        EXPECT_EQ(image[kHeaderSize - 1], 0) << "the version's NUL, size " << size;
    }
}

// A shorter image is the start of a longer one with the same header: the
// filler does not restart at the tool's chunk boundaries.
TEST_F(MakeFirmware, ShorterImageIsAPrefixOfALongerOne) {
    Bytes longer = make("longer.bin", "200000", "nuv2200", "2.4.1(c)");
    Bytes shorter = make("shorter.bin", "70000", "nuv2200", "2.4.1(c)");
    ASSERT_EQ(shorter.size(), 70000u);
    ASSERT_EQ(longer.size(), 200000u);
    EXPECT_TRUE(std::equal(shorter.begin(), shorter.end(), longer.begin()));
    EXPECT_EQ(short_period(longer, 4 * kBlockSize), 0u);
    EXPECT_EQ(repeated_blocks(longer), 0u);
}

struct BadArguments {
    const char *what;
    std::vector<std::string> args;  // "OUT" stands for the output path
    int status;
    const char *message;
};

TEST_F(MakeFirmware, RefusesBadArgumentsAndWritesNothing) {
    const std::string long_key(92, 'k');
    const std::string long_version(36, 'v');
    const BadArguments cases[] = {
        {"no arguments", {}, 2, "expected 4 arguments, got 0"},
        {"too many", {"OUT", "128", "k", "v", "x"}, 2, "expected 4 arguments, got 5"},
        {"size below the header", {"OUT", "127", "k", "v"}, 2, "the size is not a number"},
        {"size with a suffix", {"OUT", "128k", "k", "v"}, 2, "the size is not a number"},
        {"negative size", {"OUT", "-200", "k", "v"}, 2, "the size is not a number"},
        {"empty size", {"OUT", "", "k", "v"}, 2, "the size is not a number"},
        {"huge size", {"OUT", "1073741825", "k", "v"}, 2, "the size is not a number"},
        {"size past 64 bits", {"OUT", "99999999999999999999999", "k", "v"}, 2, "the size is not a number"},
        {"empty key", {"OUT", "128", "", "v"}, 2, "the key must be"},
        {"key too long", {"OUT", "128", long_key, "v"}, 2, "the key must be"},
        {"empty version", {"OUT", "128", "k", ""}, 2, "the version must be"},
        {"version too long", {"OUT", "128", "k", long_version}, 2, "the version must be"},
        {"control character", {"OUT", "128", "k", "1.0\t"}, 2, "the version must be"},
        {"empty output", {"", "128", "k", "v"}, 2, "the output path is empty"},
        {"no such folder", {"OUT/none/x.bin", "128", "k", "v"}, 1, "cannot create"},
    };
    for (const BadArguments &c : cases) {
        std::string out = path("bad.bin");
        std::vector<std::string> args;
        for (const std::string &arg : c.args)
            args.push_back(arg.rfind("OUT", 0) == 0 ? out + arg.substr(3) : arg);
        RunResult run = make_firmware(args);
        EXPECT_EQ(run.status, c.status) << c.what << ": " << run.errors;
        EXPECT_NE(run.errors.find(c.message), std::string::npos) << c.what << ": " << run.errors;
        EXPECT_FALSE(file_exists(out)) << c.what;
    }
}

} // namespace
