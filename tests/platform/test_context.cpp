// tests/platform/test_context.cpp: the upgrade context as the process
// starts, and the trace hook.
#include <cstring>

#include <gtest/gtest.h>

#include "app/upgrade_context.h"

namespace {

template <typename T> bool all_zero(const T &value)
{
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(&value);
    for (size_t i = 0; i < sizeof value; i++)
        if (bytes[i] != 0)
            return false;
    return true;
}

TEST(UpgradeContext, StartsAsZeroBytesButForTheBuildsTargetMode)
{
    EXPECT_EQ(upgrade.target_mode.load(), build_initial_target_mode);
    EXPECT_TRUE(all_zero(upgrade.model_name));
    EXPECT_EQ(upgrade.is_phone, 0);
    EXPECT_TRUE(all_zero(upgrade.target_image));
    EXPECT_TRUE(all_zero(upgrade.transition_image));
    EXPECT_TRUE(all_zero(upgrade.host_name));
    EXPECT_TRUE(all_zero(upgrade.local_addresses));
    EXPECT_EQ(upgrade.local_address, 0u);
    EXPECT_EQ(upgrade.device_address, 0u);
    EXPECT_TRUE(all_zero(upgrade.device_address_text));
    EXPECT_TRUE(all_zero(upgrade.device_info));
    EXPECT_TRUE(all_zero(upgrade.tftp_file_name));
    EXPECT_TRUE(all_zero(upgrade.file_name_lock));
    EXPECT_TRUE(all_zero(upgrade.digest));
    EXPECT_TRUE(all_zero(upgrade.reply_buffer));
    EXPECT_EQ(upgrade.instance, nullptr);
    EXPECT_EQ(upgrade.waiting_screen, nullptr);
    EXPECT_EQ(upgrade.upload_screen, nullptr);
    // The lock's zero state is the unlocked one.
    AcquireSRWLockExclusive(&upgrade.file_name_lock);
    ReleaseSRWLockExclusive(&upgrade.file_name_lock);
}

TEST(UpgradeContext, TargetModeIsALockFree32BitAtomic)
{
    EXPECT_EQ(sizeof(upgrade.target_mode), 4u);
    EXPECT_TRUE(upgrade.target_mode.is_lock_free());
}

TEST(Trace, WritesToStandardErrorOnlyInTraceBuildsButAlwaysEvaluatesItsArguments)
{
    int evaluated = 0;
    testing::internal::CaptureStderr();
    trace("Client IP = %x\n", 0x0100007fu + static_cast<unsigned>(evaluated++));
    std::string out = testing::internal::GetCapturedStderr();
    EXPECT_EQ(evaluated, 1);
#if NUV_TRACE
    EXPECT_EQ(out, "Client IP = 100007f\n");
#else
    EXPECT_EQ(out, "");
#endif
}

} // namespace
