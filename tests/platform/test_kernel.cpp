// tests/platform/test_kernel.cpp: unit tests of the native kernel services and timer.
//
// Threads, waits and exit codes; the SRW lock; resources over the embedded
// table; timeGetTime and its test hooks; ExitProcess. What needs a fresh
// process (ExitProcess, the clock hooks read at first use) runs in
// exit_probe, watched through run_child.
#include "platform/win32.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "kernel_test_support.h"
#include "platform/embedded.h"

#ifndef NUV_EXIT_PROBE
#error "NUV_EXIT_PROBE (the path of exit_probe) must be defined by the build"
#endif
#ifndef NUV_TEST_BLOB
#error "NUV_TEST_BLOB (the path of the embedded blob's file) must be defined by the build"
#endif

namespace {

using Clock = std::chrono::steady_clock;

long long elapsed_ms(Clock::time_point since) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count();
}

// The clock hooks of the tests' own environment are not the probe's business.
std::vector<EnvChange> clock_environment(std::optional<std::string> scale,
                                         std::optional<std::string> start) {
    return {{"NUV_CLOCK_SCALE", scale}, {"NUV_CLOCK_START", start}};
}

ChildResult run_probe(const std::vector<std::string> &arguments,
                      const std::vector<EnvChange> &changes) {
    ChildResult result = run_child(NUV_EXIT_PROBE, arguments, changes, 60000);
    EXPECT_TRUE(result.started) << result.error;
    EXPECT_FALSE(result.timed_out) << "stdout: " << result.out << "\nstderr: " << result.err;
    return result;
}

// ---- threads ---------------------------------------------------------------

struct Gate {
    std::atomic<bool> open{false};
    DWORD result = 0;
};

DWORD WINAPI wait_for_gate(LPVOID parameter) {
    Gate *gate = static_cast<Gate *>(parameter);
    while (!gate->open.load(std::memory_order_acquire))
        Sleep(1);
    return gate->result;
}

TEST(KernelThreads, ResultOf259IsSeenOnlyThroughTheSignalledHandle) {
    Gate gate;
    gate.result = STILL_ACTIVE;
    HANDLE thread = CreateThread(nullptr, 0, wait_for_gate, &gate, 0, nullptr);
    ASSERT_NE(thread, nullptr);

    // Held at the gate: not signalled, and its exit code says "still active".
    EXPECT_EQ(WaitForSingleObject(thread, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, static_cast<DWORD>(STILL_ACTIVE));

    gate.open.store(true, std::memory_order_release);
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), static_cast<DWORD>(WAIT_OBJECT_0));
    // Ended: the same exit code, and only the handle tells the difference.
    code = 0;
    ASSERT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 259u);
    EXPECT_EQ(WaitForSingleObject(thread, 0), static_cast<DWORD>(WAIT_OBJECT_0))
        << "a handle stays signalled";
    EXPECT_TRUE(CloseHandle(thread));
}

class KernelThreadExitCodes : public testing::TestWithParam<DWORD> {};

DWORD WINAPI return_parameter(LPVOID parameter) {
    return static_cast<DWORD>(reinterpret_cast<uintptr_t>(parameter));
}

TEST_P(KernelThreadExitCodes, TheRoutinesResultIsTheExitCode) {
    const DWORD expected = GetParam();
    HANDLE thread = CreateThread(nullptr, 0, return_parameter,
                                 reinterpret_cast<LPVOID>(static_cast<uintptr_t>(expected)), 0,
                                 nullptr);
    ASSERT_NE(thread, nullptr);
    // Polled as the device request runner polls: a zero time-out wait.
    Clock::time_point begin = Clock::now();
    while (WaitForSingleObject(thread, 0) == WAIT_TIMEOUT) {
        ASSERT_LT(elapsed_ms(begin), 10000);
        Sleep(1);
    }
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, expected);
    EXPECT_TRUE(CloseHandle(thread));
}

INSTANTIATE_TEST_SUITE_P(Results, KernelThreadExitCodes,
                         testing::Values(0u, 1u, 258u, 259u, 260u, 131071u, 0x7fffffffu,
                                         0xffffffffu));

TEST(KernelThreads, TimedWaitTimesOutThenSeesTheEnd) {
    Gate gate;
    gate.result = 7;
    HANDLE thread = CreateThread(nullptr, 0, wait_for_gate, &gate, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    Clock::time_point begin = Clock::now();
    EXPECT_EQ(WaitForSingleObject(thread, 60), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_GE(elapsed_ms(begin), 59) << "a timed wait waits its time";
    gate.open.store(true, std::memory_order_release);
    begin = Clock::now();
    EXPECT_EQ(WaitForSingleObject(thread, 10000), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_LT(elapsed_ms(begin), 5000) << "a timed wait ends when the thread does";
    CloseHandle(thread);
}

TEST(KernelThreads, ClosedOrUnknownHandlesFail) {
    HANDLE thread = CreateThread(nullptr, 0, return_parameter, nullptr, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(WaitForSingleObject(thread, INFINITE), static_cast<DWORD>(WAIT_OBJECT_0));
    ASSERT_TRUE(CloseHandle(thread));

    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_FAILED);
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_FAILED);
    DWORD code = 12345;
    EXPECT_FALSE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 12345u);
    EXPECT_FALSE(CloseHandle(thread)) << "a handle closes once";

    const HANDLE made_up[] = {nullptr, reinterpret_cast<HANDLE>(1),
                              reinterpret_cast<HANDLE>(0x7ffff),
                              reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1))};
    for (HANDLE handle : made_up) {
        EXPECT_EQ(WaitForSingleObject(handle, 0), WAIT_FAILED) << handle;
        EXPECT_FALSE(GetExitCodeThread(handle, &code)) << handle;
        EXPECT_FALSE(CloseHandle(handle)) << handle;
    }
}

TEST(KernelThreads, ClosingTheHandleLeavesTheThreadRunning) {
    static std::atomic<bool> finished{false};
    static Gate gate;
    struct Routine {
        static DWORD WINAPI run(LPVOID parameter) {
            wait_for_gate(parameter);
            finished.store(true, std::memory_order_release);
            return 0;
        }
    };
    HANDLE thread = CreateThread(nullptr, 0, Routine::run, &gate, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_TRUE(CloseHandle(thread));
    gate.open.store(true, std::memory_order_release);
    Clock::time_point begin = Clock::now();
    while (!finished.load(std::memory_order_acquire) && elapsed_ms(begin) < 10000)
        Sleep(1);
    EXPECT_TRUE(finished.load());
}

TEST(KernelThreads, OnlyFlagsZeroAndARoutineAreTaken) {
    static std::atomic<int> runs{0};
    struct Routine {
        static DWORD WINAPI run(LPVOID) {
            runs.fetch_add(1);
            return 0;
        }
    };
    const DWORD create_suspended = 0x4;
    DWORD id = 99;
    EXPECT_EQ(CreateThread(nullptr, 0, Routine::run, nullptr, create_suspended, &id), nullptr);
    EXPECT_EQ(CreateThread(nullptr, 0, nullptr, nullptr, 0, &id), nullptr);
    Sleep(20);
    EXPECT_EQ(runs.load(), 0);
}

struct IdReport {
    DWORD seen_inside = 0;
    DWORD seen_again = 0;
};

DWORD WINAPI report_id(LPVOID parameter) {
    IdReport *report = static_cast<IdReport *>(parameter);
    report->seen_inside = GetCurrentThreadId();
    report->seen_again = GetCurrentThreadId();
    return 0;
}

TEST(KernelThreads, ThreadIdsAndHandlesAreSmallStableNumbers) {
    const DWORD main_id = GetCurrentThreadId();
    EXPECT_NE(main_id, 0u);
    EXPECT_EQ(GetCurrentThreadId(), main_id);

    IdReport reports[3];
    DWORD given[3] = {};
    HANDLE threads[3] = {};
    for (int i = 0; i < 3; ++i) {
        threads[i] = CreateThread(nullptr, 0, report_id, &reports[i], 0, &given[i]);
        ASSERT_NE(threads[i], nullptr);
        EXPECT_LT(reinterpret_cast<uintptr_t>(threads[i]), 0x100000u)
            << "a handle is a number from a table, not a pointer";
    }
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(WaitForSingleObject(threads[i], INFINITE), static_cast<DWORD>(WAIT_OBJECT_0));
        CloseHandle(threads[i]);
        EXPECT_EQ(reports[i].seen_inside, given[i]) << "the id given is the thread's own";
        EXPECT_EQ(reports[i].seen_again, given[i]);
        EXPECT_NE(given[i], 0u);
        EXPECT_NE(given[i], main_id);
        EXPECT_LT(given[i], 100000u);
        for (int j = 0; j < i; ++j) {
            EXPECT_NE(given[i], given[j]);
            EXPECT_NE(threads[i], threads[j]);
        }
    }
    EXPECT_EQ(GetCurrentThreadId(), main_id);
}

TEST(KernelSleep, SleepWaitsItsTimeAndZeroYields) {
    Clock::time_point begin = Clock::now();
    Sleep(50);
    EXPECT_GE(elapsed_ms(begin), 50);
    // Sleep(0) only gives up the rest of the time slice: twenty of them take
    // no real time, even on a machine busy enough to make each yield count.
    begin = Clock::now();
    for (int i = 0; i < 20; ++i)
        Sleep(0);
    EXPECT_LT(elapsed_ms(begin), 5000);
}

// ---- the SRW lock ------------------------------------------------------------

struct Counted {
    SRWLOCK lock = SRWLOCK_INIT;
    long counter = 0;     // plain: only the lock keeps the threads apart
    bool inside = false;  // plain too: set while a thread holds the lock
    bool overlapped = false;
    int rounds = 0;
};

DWORD WINAPI count_under_lock(LPVOID parameter) {
    Counted *counted = static_cast<Counted *>(parameter);
    for (int i = 0; i < counted->rounds; ++i) {
        AcquireSRWLockExclusive(&counted->lock);
        if (counted->inside)
            counted->overlapped = true;
        counted->inside = true;
        ++counted->counter;
        if (i % 1000 == 0)
            Sleep(0);  // let the other threads pile up behind the lock now and then
        counted->inside = false;
        ReleaseSRWLockExclusive(&counted->lock);
    }
    return 0;
}

class KernelLockThreads : public testing::TestWithParam<int> {};

TEST_P(KernelLockThreads, ThreadsCountingUnderTheLockEndWithTheExactSum) {
    const int thread_count = GetParam();
    Counted counted;
    counted.rounds = 100000;
    std::vector<HANDLE> threads;
    for (int i = 0; i < thread_count; ++i) {
        threads.push_back(CreateThread(nullptr, 0, count_under_lock, &counted, 0, nullptr));
        ASSERT_NE(threads.back(), nullptr);
    }
    for (HANDLE thread : threads) {
        ASSERT_EQ(WaitForSingleObject(thread, INFINITE), static_cast<DWORD>(WAIT_OBJECT_0));
        CloseHandle(thread);
    }
    AcquireSRWLockExclusive(&counted.lock);
    EXPECT_EQ(counted.counter, static_cast<long>(thread_count) * counted.rounds);
    EXPECT_FALSE(counted.overlapped);
    ReleaseSRWLockExclusive(&counted.lock);
    EXPECT_EQ(counted.lock.state, 0u) << "released, the lock is all zero again";
}

INSTANTIATE_TEST_SUITE_P(Threads, KernelLockThreads, testing::Values(2, 4));

TEST(KernelLocks, ARecordFilledWithZeroBytesHoldsAUsableLock) {
    unsigned char storage[sizeof(SRWLOCK)];
    std::memset(storage, 0, sizeof storage);
    SRWLOCK lock;
    std::memcpy(&lock, storage, sizeof lock);
    AcquireSRWLockExclusive(&lock);
    EXPECT_NE(lock.state, 0u);
    ReleaseSRWLockExclusive(&lock);
    AcquireSRWLockExclusive(&lock);
    ReleaseSRWLockExclusive(&lock);
    EXPECT_EQ(lock.state, 0u);
}

// ---- resources ---------------------------------------------------------------

std::string file_bytes(const char *path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct ResourceQuery {
    const char *label;
    LPCSTR name;
    LPCSTR type;
    bool found;
};

// Named by its label in test names and messages.
void PrintTo(const ResourceQuery &value, std::ostream *out) {
    *out << value.label;
}

class KernelResourceLookups : public testing::TestWithParam<ResourceQuery> {};

TEST_P(KernelResourceLookups, FindResourceA) {
    const ResourceQuery &query = GetParam();
    HRSRC found = FindResourceA(nullptr, query.name, query.type);
    if (!query.found) {
        EXPECT_EQ(found, nullptr);
        return;
    }
    ASSERT_NE(found, nullptr);
    EXPECT_LT(reinterpret_cast<uintptr_t>(found), 0x100000u) << "a number, not a pointer";

    const std::string expected = file_bytes(NUV_TEST_BLOB);
    ASSERT_FALSE(expected.empty());
    ASSERT_NE(expected.find('\0'), std::string::npos) << "the fixture has zero bytes";
    EXPECT_EQ(SizeofResource(nullptr, found), expected.size());
    HGLOBAL loaded = LoadResource(nullptr, found);
    ASSERT_NE(loaded, nullptr);
    EXPECT_LT(reinterpret_cast<uintptr_t>(loaded), 0x100000u);
    const char *bytes = static_cast<const char *>(LockResource(loaded));
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(std::string(bytes, SizeofResource(nullptr, found)), expected);
    // Any module handle will do: the program has one module.
    EXPECT_EQ(FindResourceA(reinterpret_cast<HMODULE>(0x400000), query.name, query.type), found);
}

INSTANTIATE_TEST_SUITE_P(
    Queries, KernelResourceLookups,
    testing::Values(
        ResourceQuery{"IntegerName", MAKEINTRESOURCEA(7), "TEST_BLOB", true},
        ResourceQuery{"TextName", "#7", "TEST_BLOB", true},
        ResourceQuery{"TypeInLowerCase", MAKEINTRESOURCEA(7), "test_blob", true},
        ResourceQuery{"TypeInMixedCase", "#7", "Test_Blob", true},
        ResourceQuery{"UnknownId", MAKEINTRESOURCEA(8), "TEST_BLOB", false},
        ResourceQuery{"UnknownType", MAKEINTRESOURCEA(7), "NUV_FIRMWARE", false},
        ResourceQuery{"TypePrefixOnly", MAKEINTRESOURCEA(7), "TEST_BLO", false},
        ResourceQuery{"TypeLonger", MAKEINTRESOURCEA(7), "TEST_BLOBS", false},
        ResourceQuery{"IntegerType", MAKEINTRESOURCEA(7), MAKEINTRESOURCEA(10), false},
        ResourceQuery{"StringName", "BLOB", "TEST_BLOB", false},
        ResourceQuery{"MalformedNumberName", "#7x", "TEST_BLOB", false},
        ResourceQuery{"ScriptIsInternal", MAKEINTRESOURCEA(0), "#script", false},
        ResourceQuery{"ScriptByTextName", "#0", "#SCRIPT", false},
        ResourceQuery{"FileIsInternal", MAKEINTRESOURCEA(0), "#file", false}),
    [](const testing::TestParamInfo<ResourceQuery> &info) { return info.param.label; });

TEST(KernelResources, TheInternalEntriesAreThereButNotFound) {
    // The table does hold the resource script, so not finding it means something.
    int scripts = 0;
    for (int i = 0; i < embedded_resource_count; ++i)
        if (std::strcmp(embedded_resources[i].type, "#script") == 0) {
            ++scripts;
            EXPECT_EQ(FindResourceA(nullptr, MAKEINTRESOURCEA(embedded_resources[i].id),
                                    embedded_resources[i].type),
                      nullptr);
        }
    EXPECT_EQ(scripts, 1);
}

TEST(KernelResources, MadeUpHandlesAreRefused) {
    HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(7), "TEST_BLOB");
    ASSERT_NE(found, nullptr);
    HGLOBAL loaded = LoadResource(nullptr, found);
    ASSERT_NE(loaded, nullptr);
    // A resource handle is not a loaded handle, nor the other way round.
    EXPECT_EQ(LockResource(reinterpret_cast<HGLOBAL>(found)), nullptr);
    EXPECT_EQ(LoadResource(nullptr, reinterpret_cast<HRSRC>(loaded)), nullptr);
    EXPECT_EQ(SizeofResource(nullptr, reinterpret_cast<HRSRC>(loaded)), 0u);
    EXPECT_EQ(SizeofResource(nullptr, nullptr), 0u);
    EXPECT_EQ(LoadResource(nullptr, nullptr), nullptr);
    EXPECT_EQ(LockResource(nullptr), nullptr);
    EXPECT_EQ(LoadResource(nullptr, reinterpret_cast<HRSRC>(0x12345678)), nullptr);
    EXPECT_EQ(FindResourceA(nullptr, nullptr, "TEST_BLOB"), nullptr);
    EXPECT_EQ(FindResourceA(nullptr, MAKEINTRESOURCEA(7), nullptr), nullptr);
}

// ---- the millisecond counter ---------------------------------------------------

TEST(KernelTimer, TheCounterFollowsTheRealClock) {
    // This process runs without the clock hooks (ctest sets none).
    if (std::getenv("NUV_CLOCK_SCALE") != nullptr || std::getenv("NUV_CLOCK_START") != nullptr)
        GTEST_SKIP() << "clock hooks set in the test environment";
    Clock::time_point outer = Clock::now();
    DWORD t0 = timeGetTime();
    Clock::time_point inner = Clock::now();
    Sleep(100);
    long long inner_ms = elapsed_ms(inner);
    DWORD t1 = timeGetTime();
    long long outer_ms = elapsed_ms(outer);
    DWORD delta = t1 - t0;
    EXPECT_GE(static_cast<long long>(delta), inner_ms - 1);
    EXPECT_LE(static_cast<long long>(delta), outer_ms + 2);
}

struct Readings {
    uint32_t t0 = 0, t1 = 0;
    long long inner_us = 0, outer_us = 0;
};

bool parse_readings(const std::string &text, Readings *readings) {
    std::istringstream in(text);
    return static_cast<bool>(in >> readings->t0 >> readings->t1 >> readings->inner_us >>
                             readings->outer_us);
}

TEST(KernelTimer, StartedJustBelowTwoToThe32ItWrapsToSmallNumbers) {
    ChildResult probe =
        run_probe({"clock", "200"}, clock_environment(std::nullopt, std::string("4294967200")));
    ASSERT_TRUE(probe.exited) << probe.err;
    ASSERT_EQ(probe.exit_status, 0) << probe.err;
    Readings readings;
    ASSERT_TRUE(parse_readings(probe.out, &readings)) << probe.out;
    EXPECT_GE(readings.t0, 4294967200u);
    EXPECT_LT(readings.t0, 4294967200u + 50u) << "the first value is the start";
    EXPECT_LT(readings.t1, 5000u) << "wrapped past 2^32 to a small number";
    uint32_t delta = readings.t1 - readings.t0;  // modulo 2^32, as the system computes it
    EXPECT_GE(static_cast<long long>(delta), readings.inner_us / 1000 - 1);
    EXPECT_LE(static_cast<long long>(delta), readings.outer_us / 1000 + 2);
}

TEST(KernelTimer, ScaleOf100MakesA100msSleepAdvanceTheCounterBy10000) {
    ChildResult probe =
        run_probe({"clock", "100"}, clock_environment(std::string("100"), std::nullopt));
    ASSERT_TRUE(probe.exited) << probe.err;
    ASSERT_EQ(probe.exit_status, 0) << probe.err;
    Readings readings;
    ASSERT_TRUE(parse_readings(probe.out, &readings)) << probe.out;
    uint32_t delta = readings.t1 - readings.t0;
    // Sleep is not scaled: the real time around it is at least 100 ms.
    EXPECT_GE(readings.inner_us, 100000);
    // The counter moved 100 times the real time, bracketed by the two clocks.
    EXPECT_GE(static_cast<long long>(delta), readings.inner_us * 100 / 1000 - 2);
    EXPECT_LE(static_cast<long long>(delta), readings.outer_us * 100 / 1000 + 3);
    // And so, on any machine that ran the sleep within 10 times its length:
    EXPECT_GE(delta, 9998u);
    EXPECT_LE(delta, 100000u);
}

struct FirstValue {
    const char *label;
    const char *start;
    uint32_t expected;
};

// Named by its label in test names and messages.
void PrintTo(const FirstValue &value, std::ostream *out) {
    *out << value.label;
}

class KernelClockStart : public testing::TestWithParam<FirstValue> {};

TEST_P(KernelClockStart, TheFirstValueIsTheStart) {
    const FirstValue &value = GetParam();
    ChildResult probe =
        run_probe({"clock-first"}, clock_environment(std::nullopt, std::string(value.start)));
    ASSERT_TRUE(probe.exited);
    ASSERT_EQ(probe.exit_status, 0) << probe.err;
    uint32_t first = static_cast<uint32_t>(std::stoul(probe.out));
    EXPECT_LT(first - value.expected, 50u) << probe.out;  // modulo 2^32
}

INSTANTIATE_TEST_SUITE_P(
    Values, KernelClockStart,
    testing::Values(FirstValue{"Zero", "0", 0u}, FirstValue{"Decimal", "123456", 123456u},
                    FirstValue{"Hex", "0x10", 16u}, FirstValue{"UpperHex", "0XABCDEF", 0xabcdefu},
                    FirstValue{"LargestDecimal", "4294967295", 0xffffffffu},
                    FirstValue{"LargestHex", "0xFFFFFFFF", 0xffffffffu}),
    [](const testing::TestParamInfo<FirstValue> &info) { return info.param.label; });

struct MalformedHook {
    const char *label;
    const char *variable;
    const char *value;
};

// Named by its label in test names and messages.
void PrintTo(const MalformedHook &value, std::ostream *out) {
    *out << value.label;
}

class KernelClockMalformed : public testing::TestWithParam<MalformedHook> {};

TEST_P(KernelClockMalformed, ExitsWithStatus2AndAMessage) {
    const MalformedHook &hook = GetParam();
    std::vector<EnvChange> environment = clock_environment(std::nullopt, std::nullopt);
    for (EnvChange &change : environment)
        if (change.first == hook.variable)
            change.second = std::string(hook.value);
    ChildResult probe = run_probe({"clock-first"}, environment);
    ASSERT_TRUE(probe.exited);
    EXPECT_EQ(probe.exit_status, 2);
    EXPECT_EQ(probe.out, "") << "no counter value is given out";
    EXPECT_NE(probe.err.find(hook.variable), std::string::npos) << probe.err;
    EXPECT_NE(probe.err.find("malformed"), std::string::npos) << probe.err;
}

INSTANTIATE_TEST_SUITE_P(
    Values, KernelClockMalformed,
    testing::Values(MalformedHook{"ScaleWord", "NUV_CLOCK_SCALE", "fast"},
                    MalformedHook{"ScaleEmpty", "NUV_CLOCK_SCALE", ""},
                    MalformedHook{"ScaleZero", "NUV_CLOCK_SCALE", "0"},
                    MalformedHook{"ScaleNegative", "NUV_CLOCK_SCALE", "-100"},
                    MalformedHook{"ScaleFraction", "NUV_CLOCK_SCALE", "1.5"},
                    MalformedHook{"ScaleTrailing", "NUV_CLOCK_SCALE", "100x"},
                    MalformedHook{"ScaleBlank", "NUV_CLOCK_SCALE", " 100"},
                    MalformedHook{"ScaleHuge", "NUV_CLOCK_SCALE", "99999999999999999999999"},
                    MalformedHook{"StartWord", "NUV_CLOCK_START", "soon"},
                    MalformedHook{"StartEmpty", "NUV_CLOCK_START", ""},
                    MalformedHook{"StartBareHex", "NUV_CLOCK_START", "0x"},
                    MalformedHook{"StartBadHex", "NUV_CLOCK_START", "0xFFG"},
                    MalformedHook{"StartTooBig", "NUV_CLOCK_START", "4294967296"},
                    MalformedHook{"StartTooBigHex", "NUV_CLOCK_START", "0x100000000"},
                    MalformedHook{"StartNegative", "NUV_CLOCK_START", "-1"}),
    [](const testing::TestParamInfo<MalformedHook> &info) { return info.param.label; });

// ---- ExitProcess -------------------------------------------------------------------

struct ExitCase {
    const char *label;
    UINT status;
    const char *first_thread;  // "sleep" or "wait"
};

// Named by its label in test names and messages.
void PrintTo(const ExitCase &value, std::ostream *out) {
    *out << value.label;
}

class KernelExitProcess : public testing::TestWithParam<ExitCase> {};

TEST_P(KernelExitProcess, OnASecondThreadItEndsTheProcessAtOnce) {
    const ExitCase &exit_case = GetParam();
    Clock::time_point begin = Clock::now();
    ChildResult probe = run_probe(
        {"exit-from-thread", std::to_string(exit_case.status), exit_case.first_thread},
        clock_environment(std::nullopt, std::nullopt));
    long long took = elapsed_ms(begin);
    ASSERT_TRUE(probe.exited) << "signal " << probe.signal << "\n" << probe.err;
    EXPECT_EQ(probe.exit_status, static_cast<int>(exit_case.status));
    const std::string status = std::to_string(exit_case.status);
    EXPECT_EQ(probe.out, "thread exits with " + status + "\nhook " + status + "\n")
        << "the hook runs on the exiting thread; the first thread never wakes";
    EXPECT_LT(took, 20000) << "the end came before the first thread's 30 s sleep was over";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, KernelExitProcess,
    testing::Values(ExitCase{"WhileSleeping", 42, "sleep"}, ExitCase{"WhileWaiting", 7, "wait"},
                    ExitCase{"StatusZero", 0, "sleep"}),
    [](const testing::TestParamInfo<ExitCase> &info) { return info.param.label; });

} // namespace
