// tftp/datagram.cpp: what a received datagram means to the listener and to
// the transfer session, and how the session's counters move on it.
#include "tftp/datagram.h"

#include <cstring>

#include "tftp/packets.h"

RequestKind classify_request(const char *datagram, int length, char *name, size_t capacity)
{
    if (length < 2 || load_be16(datagram) != kTftpRrq)
        return RequestKind::other_opcode;
    const char *start = datagram + 2;
    const void *end = std::memchr(start, 0, static_cast<size_t>(length - 2));
    if (end == nullptr)
        return RequestKind::no_name;
    size_t name_length = static_cast<size_t>(static_cast<const char *>(end) - start);
    if (name_length >= capacity)
        return RequestKind::no_name;
    std::memcpy(name, start, name_length + 1);
    return RequestKind::read_request;
}

SessionDatagram classify_session_datagram(const TftpSession *session, const char *datagram,
                                          int length, uint32_t source_address,
                                          uint16_t source_port)
{
    if (source_address != session->peer_address || source_port != session->peer_port)
        return SessionDatagram::stranger;
    if (length < 4 || load_be16(datagram) != kTftpAck)
        return SessionDatagram::other;
    if (load_be16(datagram + 2) != session->current_block)
        return SessionDatagram::stale_ack;
    return SessionDatagram::acknowledged;
}

bool take_acknowledgement(TftpSession *session, QuietTime *quiet)
{
    session->bytes_acked += session->in_flight_size;
    session->current_block += 1;
    quiet->polls = 0;
    quiet->quiet_cycles = 0;
    if (session->current_block > session->block_count)
        return true;
    session->in_flight_size = session->current_block == session->block_count
                                  ? session->last_block_size
                                  : kTftpBlockSize;
    return false;
}

uint32_t in_flight_offset(const TftpSession *session)
{
    if (session->current_block == 0)
        return 0;
    return (session->current_block - 1) * static_cast<uint32_t>(kTftpBlockSize);
}

IdleVerdict count_idle_poll(QuietTime *quiet)
{
    quiet->polls += 1;
    if (quiet->polls < kTftpPollsPerCycle)
        return IdleVerdict::keep_waiting;
    quiet->quiet_cycles += 1;
    if (quiet->quiet_cycles >= kTftpQuietCyclesToFail)
        return IdleVerdict::give_up;
    quiet->polls = 0;
    return IdleVerdict::resend;
}
