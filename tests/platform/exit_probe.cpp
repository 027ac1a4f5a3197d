// tests/platform/exit_probe.cpp: a fresh process for the kernel tests to watch.
//
// What must be seen from outside a process, or at the first use in a new
// one: ExitProcess from a second thread, the clock's test hooks, and
// Winsock before WSAStartup. Usage:
//   exit_probe exit-from-thread STATUS sleep|wait
//   exit_probe clock-first                  prints the counter's first value
//   exit_probe clock SLEEP_MS               prints t0 t1 inner_us outer_us
//   exit_probe winsock-before-startup       prints what each call gave
#include "platform/win32.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/kernel_hooks.h"

namespace {

using Clock = std::chrono::steady_clock;

void say(const char *text) {
    std::fputs(text, stdout);
    std::fflush(stdout);
}

void report_exit(UINT exit_code) {
    std::printf("hook %u\n", exit_code);
    std::fflush(stdout);
}

UINT exit_status = 0;

DWORD WINAPI exiting_thread(LPVOID) {
    Sleep(50);  // let the first thread settle into its sleep or wait
    std::printf("thread exits with %u\n", exit_status);
    std::fflush(stdout);
    ExitProcess(exit_status);
}

DWORD WINAPI endless_thread(LPVOID) {
    Sleep(INFINITE);
    return 0;
}

// The first thread sleeps (or waits for a thread that never ends) while a
// second thread ends the process; if the first ever woke, it would say so
// and end with another status.
int exit_from_thread(UINT status, bool wait) {
    exit_status = status;
    before_process_exit = report_exit;
    HANDLE endless = wait ? CreateThread(nullptr, 0, endless_thread, nullptr, 0, nullptr) : nullptr;
    if (CreateThread(nullptr, 0, exiting_thread, nullptr, 0, nullptr) == nullptr) {
        say("CreateThread failed\n");
        return 3;
    }
    if (wait)
        WaitForSingleObject(endless, INFINITE);
    else
        Sleep(30000);
    say("first thread woke\n");
    return 4;
}

long long microseconds(Clock::duration d) {
    return std::chrono::duration_cast<std::chrono::microseconds>(d).count();
}

// Two counter readings around a sleep, bracketed by the real clock on the
// inside and on the outside.
int clock_readings(DWORD sleep_ms) {
    Clock::time_point outer_begin = Clock::now();
    DWORD t0 = timeGetTime();
    Clock::time_point inner_begin = Clock::now();
    Sleep(sleep_ms);
    Clock::time_point inner_end = Clock::now();
    DWORD t1 = timeGetTime();
    Clock::time_point outer_end = Clock::now();
    std::printf("%u %u %lld %lld\n", t0, t1, microseconds(inner_end - inner_begin),
                microseconds(outer_end - outer_begin));
    return 0;
}

int winsock_before_startup() {
    SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
    std::printf("socket %s %d\n", s == INVALID_SOCKET ? "invalid" : "valid", WSAGetLastError());
    WSASetLastError(0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    int result = bind(0, reinterpret_cast<sockaddr *>(&address), sizeof address);
    std::printf("bind %d %d\n", result, WSAGetLastError());
    char buffer[16];
    result = recv(0, buffer, sizeof buffer, 0);
    std::printf("recv %d %d\n", result, WSAGetLastError());
    result = closesocket(0);
    std::printf("closesocket %d %d\n", result, WSAGetLastError());
    char name[128];
    result = gethostname(name, 127);
    std::printf("gethostname %d %d\n", result, WSAGetLastError());
    hostent *host = gethostbyname("localhost");
    std::printf("gethostbyname %s %d\n", host == nullptr ? "null" : "entry", WSAGetLastError());
    WSADATA data;
    result = WSAStartup(MAKEWORD(1, 1), &data);
    std::printf("WSAStartup %d %04x\n", result, data.wVersion);
    s = socket(AF_INET, SOCK_DGRAM, 0);
    std::printf("socket %s\n", s == INVALID_SOCKET ? "invalid" : "valid");
    std::printf("closesocket %d\n", closesocket(s));
    return 0;
}

int usage() {
    std::fprintf(stderr, "usage: exit_probe exit-from-thread STATUS sleep|wait | clock-first | "
                         "clock SLEEP_MS | winsock-before-startup\n");
    return 64;
}

} // namespace

int main(int argc, char **argv) {
    if (argc == 4 && std::strcmp(argv[1], "exit-from-thread") == 0)
        return exit_from_thread(static_cast<UINT>(std::strtoul(argv[2], nullptr, 10)),
                                std::strcmp(argv[3], "wait") == 0);
    if (argc == 2 && std::strcmp(argv[1], "clock-first") == 0) {
        std::printf("%u\n", timeGetTime());
        return 0;
    }
    if (argc == 3 && std::strcmp(argv[1], "clock") == 0)
        return clock_readings(static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10)));
    if (argc == 2 && std::strcmp(argv[1], "winsock-before-startup") == 0)
        return winsock_before_startup();
    return usage();
}
