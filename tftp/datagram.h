// tftp/datagram.h: what a received datagram means to the listener and to
// the transfer session, and how the session's counters move on it. Pure:
// bytes, their length and their source in, a verdict out; the sockets and
// screens stay with the callers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tftp/session.h"

// A datagram that reached the listener.
enum class RequestKind {
    read_request,  // a read request; its name is in `name`
    other_opcode,  // another packet (or fewer than two bytes): not for the listener
    no_name,       // a read request without a name that fits `name`
};

// Reads the name of a read request from the `length` bytes of `datagram`,
// looking only inside them: a name without its terminating zero byte, or
// one of `capacity` characters or more, is none. `name` gets the name
// and its NUL only for read_request.
RequestKind classify_request(const char *datagram, int length, char *name, size_t capacity);

// A datagram that reached the session while a packet awaits its ACK.
enum class SessionDatagram {
    acknowledged,  // the ACK of the packet in flight
    stale_ack,     // an ACK of another block: dropped at once, no poll counted
    stranger,      // from another address or port than the read request's
    other,         // anything else from the device, a short ACK included
};

// An ACK shorter than its four bytes is none: the session's buffer behind
// it still holds the packet sent last, whose block number would otherwise
// be taken for the device's.
SessionDatagram classify_session_datagram(const TftpSession *session, const char *datagram,
                                          int length, uint32_t source_address,
                                          uint16_t source_port);

// Idle polls in the current quiet cycle, and quiet cycles in a row since
// the last ACK of the packet in flight.
struct QuietTime {
    int polls;
    int quiet_cycles;
};

constexpr int kTftpPollsPerCycle = 100;
constexpr int kTftpQuietCyclesToFail = 30;

// The packet in flight has its ACK: its bytes count as acknowledged, the
// quiet time starts again, and the next block becomes the one in flight.
// True when that was the last block's ACK: nothing is left to send.
bool take_acknowledgement(TftpSession *session, QuietTime *quiet);

// Where in the image the block in flight starts (0 while the OACK is in
// flight); its length is session->in_flight_size.
uint32_t in_flight_offset(const TftpSession *session);

enum class IdleVerdict {
    keep_waiting,  // the cycle goes on
    resend,        // a quiet cycle has passed: send the packet in flight again
    give_up,       // the last quiet cycle allowed has passed
};

// One idle poll of the session.
IdleVerdict count_idle_poll(QuietTime *quiet);
