// tftp/listener.cpp: the PC's TFTP server: binds the first free port from
// 69, shows the waiting screen and hands the device's read request for the
// agreed name to the transfer session.
#include "tftp/listener.h"

#include <cstdlib>
#include <cstring>

#include "app/upgrade_context.h"
#include "http/exchange.h"
#include "tftp/datagram.h"
#include "tftp/packets.h"
#include "tftp/session.h"
#include "tftp/socket_wait.h"
#include "upgrader_ids.h"

namespace {

constexpr uint16_t kFirstPort = 69;
constexpr int kPortsTried = 100;
constexpr int kIdleSteps = 1000;

constexpr char kWaitingText[] =
    "Firmware upload will begin when the NUV is idle, where the NUV will request to download "
    "the firmware from this PC using TFTP at the first available UDP port starting at port "
    "number 69.\r\n\r\nIf firmware download does not start, please check that you have done "
    "the following: a) Hangup properly all the phones attached to the NUV, b) Disable any "
    "firewall software (such as Internet Connection Firewall) on this PC, and c) Make sure "
    "that this PC and the NUV are on the same LAN subnet; it will not work for example if "
    "this PC is behind a router while the NUV is in front of it.";

[[noreturn]] void fail(const char *text)
{
    show_failure(text);
    ExitProcess(0);
}

// Both showings carry the explanation: a second, empty screen would leave
// the person with a bar that moves and nothing to say why.
void show_waiting_screen()
{
    HWND screen = CreateDialogParamA(upgrade.instance, MAKEINTRESOURCEA(IDD_WAITING), nullptr,
                                     abort_dialog_proc, 0);
    upgrade.waiting_screen = screen;
    // Filled before it is shown, so that it never shows without its text.
    SendDlgItemMessageA(screen, IDC_PROGRESS_BAR, PBM_SETRANGE, 0, MAKELPARAM(0, kIdleSteps));
    SendDlgItemMessageA(screen, IDC_PROGRESS_BAR, PBM_SETPOS, 0, 0);
    SetDlgItemTextA(screen, IDC_WAITING_TEXT, kWaitingText);
    ShowWindow(screen, SW_SHOWNORMAL);
}

void pump_waiting_screen()
{
    MSG message;
    while (PeekMessageA(&message, upgrade.waiting_screen, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

bool is_agreed_name(const char *name)
{
    FileNameLock lock;
    trace("%s %s\n", upgrade.tftp_file_name, name);
    return std::strcmp(name, upgrade.tftp_file_name) == 0;
}

void trace_other_opcode(uint16_t opcode)
{
    switch (opcode) {
    case kTftpWrq: trace("TFTP Rx WRQ?\n"); break;
    case kTftpData: trace("TFTP Rx Data?\n"); break;
    case kTftpAck: trace("TFTP Rx ACK?\n"); break;
    case kTftpError: trace("TFTP Rx Error?\n"); break;
    default: break;
    }
}

// True when the datagram is the read request for the agreed name; its
// name is then in `name`.
bool is_matching_request(const char *datagram, int length, char *name, size_t capacity)
{
    RequestKind kind = classify_request(datagram, length, name, capacity);
    if (kind == RequestKind::other_opcode) {
        trace_other_opcode(load_be16(datagram));
        return false;
    }
    if (kind == RequestKind::no_name) {
        trace("+++ Bad TFTP RRQ filename\n");
        return false;
    }
    if (!is_agreed_name(name)) {
        trace("+++ Bad TFTP RRQ filename %s\n", name);
        return false;
    }
    return true;
}

[[noreturn]] void listen_for_requests(TftpListener *listener)
{
    u_long non_blocking = 1;
    ioctlsocket(listener->udp_socket, FIONBIO, &non_blocking);
    int idle = 0;
    for (;;) {
        sockaddr_in source;
        int source_length = sizeof source;
        int received = recvfrom(listener->udp_socket, listener->receive_buffer,
                                sizeof listener->receive_buffer, 0,
                                reinterpret_cast<sockaddr *>(&source), &source_length);
        // Fewer than two bytes carry no opcode: nothing arrived.
        if (received >= 2) {
            char name[sizeof upgrade.tftp_file_name];
            if (!is_matching_request(listener->receive_buffer, received, name, sizeof name))
                continue;
            uint32_t peer_address;
            uint16_t peer_port;
            read_sockaddr(&source, &peer_address, &peer_port);
            DestroyWindow(upgrade.waiting_screen);
            run_tftp_session(listener->udp_socket, listener->local_address, listener->port,
                             peer_address, peer_port, name);
            if (upgrade.target_mode.load() != 0) {
                closesocket(listener->udp_socket);
                ExitProcess(0);
            }
            // The transition image is in: the main thread sees the change
            // and sends the command for the target image.
            upgrade.target_mode.store(1);
            show_waiting_screen();
            idle = 0;
            continue;
        }
        wait_for_datagram(listener->udp_socket);
        idle = (idle + 1) % kIdleSteps;
        SendDlgItemMessageA(upgrade.waiting_screen, IDC_PROGRESS_BAR, PBM_SETPOS,
                            static_cast<WPARAM>(idle), 0);
        pump_waiting_screen();
    }
}

} // namespace

uint16_t start_tftp_listener(uint32_t local_address)
{
    // Never freed: the record lives until the process ends.
    TftpListener *listener = static_cast<TftpListener *>(std::calloc(1, sizeof(TftpListener)));
    if (listener == nullptr)
        fail("Upgrade Failed: Can't malloc for TFTP listener");
    listener->udp_socket = socket(AF_INET, SOCK_DGRAM, 0);
    if (listener->udp_socket == INVALID_SOCKET)
        fail("Upgrade Failed: Can't create TFTP listener socket");
    uint16_t port = 0;
    for (int i = 0; i < kPortsTried && port == 0; ++i) {
        sockaddr_in address;
        fill_sockaddr(local_address, static_cast<uint16_t>(kFirstPort + i), &address);
        if (bind(listener->udp_socket, reinterpret_cast<const sockaddr *>(&address),
                 sizeof address) == 0)
            port = static_cast<uint16_t>(kFirstPort + i);
    }
    if (port == 0)
        fail("Upgrade Failed: Can't bind TFTP listener socket");
    listener->local_address = local_address;
    listener->port = port;
    HANDLE thread = CreateThread(nullptr, 0, tftp_listener_thread, listener, 0, nullptr);
    // Without the thread no read request would ever be answered, and the
    // person would wait behind a screen that is never shown.
    if (thread == nullptr)
        fail("Upgrade Failed: Can't start TFTP listener");
    return port;
}

DWORD WINAPI tftp_listener_thread(LPVOID parameter)
{
    show_waiting_screen();
    listen_for_requests(static_cast<TftpListener *>(parameter));
}

INT_PTR CALLBACK abort_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM)
{
    if (message == WM_INITDIALOG) {
        center_window(dialog);
        return TRUE;
    }
    if (message == WM_COMMAND && LOWORD(wparam) == IDCANCEL) {
        DestroyWindow(dialog);
        fail("Upgrade Failed: User Abort");
    }
    return FALSE;
}
