// platform/threads.cpp: kernel threads, waiting, sleeping and the end of the process.
//
// A thread is a detached std::thread; its HANDLE is a number from a table
// (never a pointer), so a closed or made-up handle is refused with
// WAIT_FAILED or FALSE instead of being dereferenced. A handle is
// signalled once the thread's routine has returned, and stays signalled.
#include "platform/win32.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_map>

#include "platform/kernel_hooks.h"

void (*before_process_exit)(UINT exit_code) = nullptr;

namespace {

// What a thread and the holders of its handle share.
struct ThreadRecord {
    std::mutex mutex;
    std::condition_variable ended_signal;
    bool ended = false;
    DWORD exit_code = STILL_ACTIVE;
};

// The open thread handles. Handle numbers are multiples of 4, as on
// Windows, and never reused within a run, so a stale handle stays unknown.
struct HandleTable {
    std::mutex mutex;
    uintptr_t last = 0;
    std::unordered_map<uintptr_t, std::shared_ptr<ThreadRecord>> threads;
};

// Never destroyed: detached threads may outlive the static destructors.
HandleTable &handle_table() {
    static HandleTable *table = new HandleTable;
    return *table;
}

std::shared_ptr<ThreadRecord> find_thread(HANDLE handle) {
    HandleTable &table = handle_table();
    std::lock_guard<std::mutex> hold(table.mutex);
    auto found = table.threads.find(reinterpret_cast<uintptr_t>(handle));
    if (found == table.threads.end())
        return nullptr;
    return found->second;
}

// Thread ids: small numbers in the order threads first need one; the
// main thread takes 1 while the program's statics are made.
std::atomic<DWORD> last_thread_id{0};
thread_local DWORD current_thread_id = 0;

DWORD new_thread_id() {
    return last_thread_id.fetch_add(1, std::memory_order_relaxed) + 1;
}

[[maybe_unused]] const DWORD main_thread_id = GetCurrentThreadId();

std::atomic<bool> process_exiting{false};

} // namespace

HANDLE CreateThread(void * /*security*/, size_t /*stack_size*/, LPTHREAD_START_ROUTINE start,
                    LPVOID parameter, DWORD flags, DWORD *thread_id) {
    // Only what the system asks for: a thread that runs at once.
    if (start == nullptr || flags != 0)
        return nullptr;
    auto record = std::make_shared<ThreadRecord>();
    const DWORD id = new_thread_id();
    try {
        std::thread([record, start, parameter, id] {
            current_thread_id = id;
            DWORD result = start(parameter);
            std::lock_guard<std::mutex> hold(record->mutex);
            record->exit_code = result;
            record->ended = true;
            record->ended_signal.notify_all();
        }).detach();
    } catch (const std::system_error &) {
        return nullptr;
    }
    HandleTable &table = handle_table();
    uintptr_t handle;
    {
        std::lock_guard<std::mutex> hold(table.mutex);
        table.last += 4;
        handle = table.last;
        table.threads.emplace(handle, record);
    }
    if (thread_id != nullptr)
        *thread_id = id;
    return reinterpret_cast<HANDLE>(handle);
}

BOOL GetExitCodeThread(HANDLE thread, DWORD *exit_code) {
    std::shared_ptr<ThreadRecord> record = find_thread(thread);
    if (record == nullptr || exit_code == nullptr)
        return FALSE;
    std::lock_guard<std::mutex> hold(record->mutex);
    *exit_code = record->ended ? record->exit_code : STILL_ACTIVE;
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) {
    std::shared_ptr<ThreadRecord> record = find_thread(object);
    if (record == nullptr)
        return WAIT_FAILED;
    std::unique_lock<std::mutex> hold(record->mutex);
    auto has_ended = [&record] { return record->ended; };
    if (milliseconds == INFINITE) {
        record->ended_signal.wait(hold, has_ended);
        return WAIT_OBJECT_0;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    return record->ended_signal.wait_until(hold, deadline, has_ended) ? WAIT_OBJECT_0
                                                                       : WAIT_TIMEOUT;
}

BOOL CloseHandle(HANDLE object) {
    // The thread itself runs on; only the handle goes.
    HandleTable &table = handle_table();
    std::lock_guard<std::mutex> hold(table.mutex);
    return table.threads.erase(reinterpret_cast<uintptr_t>(object)) == 1 ? TRUE : FALSE;
}

DWORD GetCurrentThreadId() {
    if (current_thread_id == 0)
        current_thread_id = new_thread_id();
    return current_thread_id;
}

void Sleep(DWORD milliseconds) {
    if (milliseconds == 0) {
        std::this_thread::yield();
        return;
    }
    if (milliseconds == INFINITE) {
        for (;;)
            std::this_thread::sleep_for(std::chrono::hours(24));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void ExitProcess(UINT exit_code) {
    // The first caller ends the process; a later one (on another thread)
    // waits for that end, as on Windows, so the hook runs once.
    if (process_exiting.exchange(true)) {
        for (;;)
            std::this_thread::sleep_for(std::chrono::hours(24));
    }
    if (before_process_exit != nullptr)
        before_process_exit(exit_code);
    // At once and for every thread: no static destructors, no atexit
    // handlers, no flushing of stdio buffers (output that must be seen is
    // flushed by whoever wrote it, as the script front end does).
    _exit(static_cast<int>(exit_code));
}
