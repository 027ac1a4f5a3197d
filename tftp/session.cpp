// tftp/session.cpp: serving one firmware image to the device in 512-byte
// blocks, in lock step with its acknowledgements, behind the upload screen.
#include "tftp/session.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/upgrade_context.h"
#include "http/exchange.h"
#include "tftp/completion.h"
#include "tftp/datagram.h"
#include "tftp/listener.h"
#include "tftp/socket_wait.h"
#include "upgrader_ids.h"

namespace {

// The state of one transfer beside the session record.
struct Transfer {
    sockaddr_in peer;
    const uint8_t *image;
    QuietTime quiet;
};

const FirmwareImage &served_image()
{
    return upgrade.target_mode.load() != 0 ? upgrade.target_image : upgrade.transition_image;
}

const char *image_kind()
{
    return upgrade.target_mode.load() != 0 ? "Target" : "Transition";
}

void show_upload_screen(const TftpSession *session)
{
    HWND screen = CreateDialogParamA(upgrade.instance, MAKEINTRESOURCEA(IDD_UPLOAD), nullptr,
                                     abort_dialog_proc, 0);
    upgrade.upload_screen = screen;
    // The range's upper bound has 16 bits.
    SendDlgItemMessageA(screen, IDC_PROGRESS_BAR, PBM_SETRANGE, 0,
                        MAKELPARAM(0, static_cast<WORD>(session->block_count)));
    ShowWindow(screen, SW_SHOWNORMAL);
}

void show_progress(const TftpSession *session)
{
    SendDlgItemMessageA(upgrade.upload_screen, IDC_PROGRESS_BAR, PBM_SETPOS,
                        static_cast<WPARAM>(session->current_block), 0);
    char title[160];
    std::snprintf(title, sizeof title, "Uploading %s Firmware to NUV@%s %d/%d Bytes", image_kind(),
                  upgrade.device_address_text, session->bytes_acked,
                  static_cast<int32_t>(session->image_size));
    SetWindowTextA(upgrade.upload_screen, title);
}

void pump_one_message()
{
    MSG message;
    if (PeekMessageA(&message, upgrade.upload_screen, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

void send_in_flight(TftpSession *session, const Transfer &transfer)
{
    send_data_block(session->udp_socket, session->packet_buffer,
                    transfer.image + in_flight_offset(session),
                    session->in_flight_size, static_cast<uint16_t>(session->current_block),
                    &transfer.peer);
}

// The packet that awaited its ACK has it: the next one goes out at once.
// True when that was the last block.
bool on_acknowledged(TftpSession *session, Transfer &transfer)
{
    bool last = take_acknowledgement(session, &transfer.quiet);
    show_progress(session);
    if (last) {
        trace("All blocks ack'd\n");
        return true;
    }
    send_in_flight(session, transfer);
    trace("Send block %d (%d)\n", static_cast<int>(session->current_block),
          session->in_flight_size);
    return false;
}

// A quiet cycle has passed: resend what is in flight.
void on_quiet_cycle(TftpSession *session, const Transfer &transfer)
{
    if (session->current_block == 0) {
        trace("ReSend option ack\n");
        send_oack(session->udp_socket, session->packet_buffer, &transfer.peer, session->image_size);
    } else {
        trace("ReSend block %d\n", static_cast<int>(session->current_block));
        send_in_flight(session, transfer);
    }
}

// What a received datagram means to the transfer; a stranger is traced
// and counts as any other datagram that is not the awaited ACK.
SessionDatagram classify_datagram(const TftpSession *session, int length,
                                  const sockaddr_in *source)
{
    uint32_t address;
    uint16_t port;
    read_sockaddr(source, &address, &port);
    SessionDatagram kind =
        classify_session_datagram(session, session->packet_buffer, length, address, port);
    if (kind == SessionDatagram::stranger) {
        trace("Unknown source request in session: %x:%u", address, port);
        return SessionDatagram::other;
    }
    return kind;
}

} // namespace

void send_oack(SOCKET udp_socket, char *packet_buffer, const sockaddr_in *peer, uint32_t image_size)
{
    store_be16(packet_buffer, kTftpOack);
    // "tsize\0<size>\0timeout\0" "5\0": at most 29 bytes, far inside the buffer.
    int length = 2;
    length += std::snprintf(packet_buffer + length, kTftpPacketCapacity - length, "tsize") + 1;
    length += std::snprintf(packet_buffer + length, kTftpPacketCapacity - length, "%u",
                            static_cast<unsigned>(image_size)) + 1;
    length += std::snprintf(packet_buffer + length, kTftpPacketCapacity - length, "timeout") + 1;
    length += std::snprintf(packet_buffer + length, kTftpPacketCapacity - length, "5") + 1;
    sendto(udp_socket, packet_buffer, length, 0, reinterpret_cast<const sockaddr *>(peer),
           sizeof *peer);
}

void send_data_block(SOCKET udp_socket, char *packet_buffer, const uint8_t *data, int32_t count,
                     uint16_t block, const sockaddr_in *peer)
{
    if (count < 0)
        count = 0;
    if (count > kTftpBlockSize)
        count = kTftpBlockSize;
    store_be16(packet_buffer, kTftpData);
    store_be16(packet_buffer + 2, block);
    if (count > 0)
        std::memcpy(packet_buffer + 4, data, static_cast<size_t>(count));
    sendto(udp_socket, packet_buffer, 4 + count, 0, reinterpret_cast<const sockaddr *>(peer),
           sizeof *peer);
}

UploadOutcome serve_image(TftpSession *session)
{
    show_upload_screen(session);
    u_long non_blocking = 1;
    ioctlsocket(session->udp_socket, FIONBIO, &non_blocking);
    Transfer transfer{};
    fill_sockaddr(session->peer_address, session->peer_port, &transfer.peer);
    transfer.image = served_image().data;
    send_oack(session->udp_socket, session->packet_buffer, &transfer.peer, session->image_size);
    for (;;) {
        sockaddr_in source;
        int source_length = sizeof source;
        int received = recvfrom(session->udp_socket, session->packet_buffer, kTftpPacketCapacity,
                                0, reinterpret_cast<sockaddr *>(&source), &source_length);
        if (received > 0) {
            SessionDatagram kind = classify_datagram(session, received, &source);
            if (kind == SessionDatagram::stale_ack)
                continue;
            if (kind == SessionDatagram::acknowledged) {
                if (on_acknowledged(session, transfer))
                    return UploadOutcome::complete;
                continue;
            }
        } else {
            pump_one_message();
        }
        wait_for_datagram(session->udp_socket);
        IdleVerdict verdict = count_idle_poll(&transfer.quiet);
        if (verdict == IdleVerdict::give_up) {
            trace("Timeout for ack; upgrade failed\n");
            return UploadOutcome::failed;
        }
        if (verdict == IdleVerdict::resend)
            on_quiet_cycle(session, transfer);
    }
}

void run_tftp_session(SOCKET udp_socket, uint32_t local_address, uint16_t local_port,
                      uint32_t peer_address, uint16_t peer_port, const char *file_name)
{
    TftpSession *session = static_cast<TftpSession *>(std::calloc(1, sizeof(TftpSession)));
    if (session == nullptr) {
        show_failure("Upgrade Failed: Can't malloc for TFTP session");
        ExitProcess(0);
    }
    session->udp_socket = udp_socket;
    session->local_address = local_address;
    session->local_port = local_port;
    session->peer_address = peer_address;
    session->peer_port = peer_port;
    std::snprintf(session->file_name, sizeof session->file_name, "%s", file_name);
    session->current_block = 0;
    session->bytes_acked = 0;
    session->image_size = served_image().size;
    session->block_count = session->image_size / kTftpBlockSize + 1;
    session->last_block_size = static_cast<int32_t>(session->image_size % kTftpBlockSize);
    trace("++++size %d, %d, %d\n", static_cast<int>(session->image_size),
          session->last_block_size, static_cast<int>(session->block_count));
    UploadOutcome outcome = serve_image(session);
    complete_upgrade(session, outcome);
    std::free(session);
}
