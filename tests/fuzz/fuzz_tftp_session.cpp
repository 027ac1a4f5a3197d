// tests/fuzz/fuzz_tftp_session.cpp: the transfer session's state machine run
// over a sequence of datagrams and idle polls split from the fuzz input,
// the way serve_image drives it, with the invariants of a lock-step
// transfer checked after every step.
#include <cstdint>
#include <cstring>
#include <memory>

#include "tftp/datagram.h"
#include "tftp/packets.h"
#include "tftp/session.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

constexpr uint32_t kPeerAddress = 0x7f005a01;
constexpr uint16_t kPeerPort = 40000;
// The most blocks the build lets an image have, and the largest image
// whose bytes the harness holds in memory so that a sanitizer watches
// every read of a block.
constexpr uint32_t kMaxServableSize = 65535u * 512u - 1u;
constexpr uint32_t kMaxHeldSize = 65536;
// Work per input stays bounded whatever the input asks for.
constexpr long kMaxSteps = 400000;

struct Run {
    TftpSession session;
    QuietTime quiet;
    std::unique_ptr<uint8_t[]> image;  // null for an image too big to hold
    long polls_since_ack;              // idle polls since the last matching ACK
    long steps;
    bool complete;
    bool failed;
};

// What send_data_block copies: the block in flight, which must lie inside
// the image, behind its opcode and block number in the packet buffer.
void send_in_flight(Run *run)
{
    TftpSession &s = run->session;
    uint32_t offset = in_flight_offset(&s);
    FUZZ_CHECK(s.current_block >= 1 && s.current_block <= s.block_count);
    FUZZ_CHECK(s.in_flight_size >= 0 && s.in_flight_size <= kTftpBlockSize);
    FUZZ_CHECK(offset + static_cast<uint32_t>(s.in_flight_size) <= s.image_size);
    FUZZ_CHECK(offset == (s.current_block - 1) * static_cast<uint32_t>(kTftpBlockSize));
    // Every block but the last is full; the last is shorter than a block.
    if (s.current_block < s.block_count)
        FUZZ_CHECK(s.in_flight_size == kTftpBlockSize);
    else
        FUZZ_CHECK(offset + static_cast<uint32_t>(s.in_flight_size) == s.image_size);
    store_be16(s.packet_buffer, kTftpData);
    store_be16(s.packet_buffer + 2, static_cast<uint16_t>(s.current_block));
    if (run->image && s.in_flight_size > 0)
        std::memcpy(s.packet_buffer + 4, run->image.get() + offset,
                    static_cast<size_t>(s.in_flight_size));
}

void check_counters(const Run &run)
{
    const TftpSession &s = run.session;
    if (run.failed) {
        FUZZ_CHECK(run.quiet.quiet_cycles == kTftpQuietCyclesToFail);
    } else {
        FUZZ_CHECK(run.quiet.polls >= 0 && run.quiet.polls < kTftpPollsPerCycle);
        FUZZ_CHECK(run.quiet.quiet_cycles >= 0 && run.quiet.quiet_cycles < kTftpQuietCyclesToFail);
    }
    FUZZ_CHECK(s.bytes_acked >= 0 && static_cast<uint32_t>(s.bytes_acked) <= s.image_size);
    if (run.complete) {
        FUZZ_CHECK(s.current_block == s.block_count + 1);
        FUZZ_CHECK(static_cast<uint32_t>(s.bytes_acked) == s.image_size);
        return;
    }
    // Acknowledged bytes are those of the blocks before the one in flight.
    FUZZ_CHECK(s.current_block <= s.block_count);
    FUZZ_CHECK(static_cast<uint32_t>(s.bytes_acked) == in_flight_offset(&s));
}

void idle_poll(Run *run)
{
    run->polls_since_ack++;
    IdleVerdict verdict = count_idle_poll(&run->quiet);
    long cycle = run->polls_since_ack % kTftpPollsPerCycle;
    long cycles = run->polls_since_ack / kTftpPollsPerCycle;
    if (verdict == IdleVerdict::give_up) {
        // Only after thirty whole quiet cycles without the awaited ACK.
        FUZZ_CHECK(cycle == 0 && cycles == kTftpQuietCyclesToFail);
        run->failed = true;
        return;
    }
    if (verdict == IdleVerdict::resend) {
        FUZZ_CHECK(cycle == 0 && cycles < kTftpQuietCyclesToFail);
        if (run->session.current_block > 0)
            send_in_flight(run);
        return;
    }
    FUZZ_CHECK(cycle != 0);
}

// One datagram of `length` bytes from the given source, received into the
// session's packet buffer as the receive puts it there.
void receive(Run *run, const uint8_t *bytes, size_t length, uint32_t address, uint16_t port)
{
    TftpSession &s = run->session;
    if (length == 0 || length > static_cast<size_t>(kTftpPacketCapacity)) {
        idle_poll(run);  // nothing, or refused by the receive: an idle poll
        return;
    }
    // The verdict on exactly the bytes that came (a sanitizer sees any read
    // past them) must be the one on the buffer, whose tail still holds the
    // packet sent last.
    std::unique_ptr<char[]> exact(new char[length]);
    std::memcpy(exact.get(), bytes, length);
    SessionDatagram verdict =
        classify_session_datagram(&s, exact.get(), static_cast<int>(length), address, port);
    std::memcpy(s.packet_buffer, bytes, length);
    FUZZ_CHECK(classify_session_datagram(&s, s.packet_buffer, static_cast<int>(length), address,
                                         port) == verdict);
    bool from_peer = address == kPeerAddress && port == kPeerPort;
    FUZZ_CHECK((verdict == SessionDatagram::stranger) == !from_peer);
    if (verdict == SessionDatagram::stale_ack)
        return;  // dropped at once, no poll counted
    if (verdict != SessionDatagram::acknowledged) {
        idle_poll(run);
        return;
    }
    FUZZ_CHECK(length >= 4 && load_be16(exact.get()) == kTftpAck &&
               load_be16(exact.get() + 2) == static_cast<uint16_t>(s.current_block));
    uint32_t acknowledged = s.current_block;
    bool last = take_acknowledgement(&s, &run->quiet);
    run->polls_since_ack = 0;
    FUZZ_CHECK(s.current_block == acknowledged + 1);
    // Complete exactly on the ACK of the last block.
    FUZZ_CHECK(last == (acknowledged == s.block_count));
    if (last) {
        run->complete = true;
        return;
    }
    send_in_flight(run);
}

void ack_block(Run *run, uint16_t block, const uint8_t *tail, size_t tail_length)
{
    uint8_t packet[4 + 8];
    packet[0] = 0;
    packet[1] = kTftpAck;
    packet[2] = static_cast<uint8_t>(block >> 8);
    packet[3] = static_cast<uint8_t>(block & 0xff);
    if (tail_length > 8)
        tail_length = 8;
    if (tail_length > 0)
        std::memcpy(packet + 4, tail, tail_length);
    receive(run, packet, 4 + tail_length, kPeerAddress, kPeerPort);
}

bool running(const Run &run)
{
    return !run.complete && !run.failed && run.steps < kMaxSteps;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput in{data, size};
    static Run run;  // large; one input at a time
    run.session = TftpSession{};
    run.quiet = QuietTime{};
    run.image.reset();
    run.polls_since_ack = 0;
    run.steps = 0;
    run.complete = false;
    run.failed = false;

    // The image: a small one held in memory, or any servable size.
    uint32_t image_size;
    if ((take_byte(&in) & 1) == 0) {
        image_size = take_be16(&in) % (kMaxHeldSize + 1);
        run.image.reset(new uint8_t[image_size > 0 ? image_size : 1]);
        std::memset(run.image.get(), 0xa5, image_size > 0 ? image_size : 1);
    } else {
        image_size = (static_cast<uint32_t>(take_byte(&in)) << 16) | take_be16(&in);
        image_size = image_size * 2 % (kMaxServableSize + 1);
    }
    TftpSession &s = run.session;
    s.peer_address = kPeerAddress;
    s.peer_port = kPeerPort;
    s.image_size = image_size;
    s.block_count = image_size / kTftpBlockSize + 1;
    s.last_block_size = static_cast<int32_t>(image_size % kTftpBlockSize);
    // The OACK is the first packet in flight.
    store_be16(s.packet_buffer, kTftpOack);

    while (in.size > 0 && running(run)) {
        uint8_t kind = take_byte(&in);
        switch (kind % 6) {
        case 0: {  // any datagram from the device
            size_t length = take_be16(&in) % (kTftpPacketCapacity + 2);
            size_t taken = 0;
            const uint8_t *bytes = take_bytes(&in, length, &taken);
            receive(&run, bytes, taken, kPeerAddress, kPeerPort);
            run.steps++;
            break;
        }
        case 1: {  // a datagram from a stranger: another port, or another address
            uint8_t which = take_byte(&in);
            size_t taken = 0;
            const uint8_t *bytes = take_bytes(&in, take_byte(&in), &taken);
            uint32_t address = (which & 1) ? kPeerAddress : kPeerAddress + 1 + (which >> 1);
            uint16_t port = (which & 1) ? static_cast<uint16_t>(kPeerPort + 1 + (which >> 1)) : kPeerPort;
            receive(&run, bytes, taken, address, port);
            run.steps++;
            break;
        }
        case 2: {  // an ACK near the awaited block, with bytes behind it
            int delta = static_cast<int8_t>(take_byte(&in));
            size_t tail_length = take_byte(&in) % 9;
            size_t taken = 0;
            const uint8_t *tail = take_bytes(&in, tail_length, &taken);
            ack_block(&run, static_cast<uint16_t>(s.current_block + static_cast<uint32_t>(delta)),
                      tail, taken);
            run.steps++;
            break;
        }
        case 3: {  // the awaited ACKs, many in a row, to reach the end of a large image
            long count = take_be16(&in);
            for (long i = 0; i < count && running(run); ++i, ++run.steps) {
                ack_block(&run, static_cast<uint16_t>(s.current_block), nullptr, 0);
                check_counters(run);
            }
            break;
        }
        case 4: {  // quiet: idle polls
            long count = take_be16(&in) % 4000;
            for (long i = 0; i < count && running(run); ++i, ++run.steps) {
                idle_poll(&run);
                check_counters(run);
            }
            break;
        }
        default: {  // a short ACK: only its opcode, perhaps a byte of its number
            uint8_t packet[3] = {0, kTftpAck, take_byte(&in)};
            receive(&run, packet, 2 + (kind & 1), kPeerAddress, kPeerPort);
            run.steps++;
            break;
        }
        }
        check_counters(run);
    }
    return 0;
}
