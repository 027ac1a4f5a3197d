// tests/fuzz/fuzz_tftp_request.cpp: a datagram that reaches the TFTP
// listener while it waits for the device's read request.
#include <cstdint>
#include <cstring>
#include <memory>

#include "tftp/datagram.h"
#include "tftp/packets.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// As the listener's receive buffer and the agreed name's field are sized.
constexpr size_t kReceiveCapacity = 1024;
constexpr size_t kNameCapacity = 128;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // A longer datagram is refused by the receive and never handled.
    if (size > kReceiveCapacity)
        return 0;
    // Exactly the bytes that arrived: the listener must look nowhere else.
    std::unique_ptr<char[]> datagram(new char[size > 0 ? size : 1]);
    if (size > 0)
        std::memcpy(datagram.get(), data, size);
    int length = static_cast<int>(size);

    char name[kNameCapacity];
    std::memset(name, 'x', sizeof name);
    RequestKind kind = classify_request(datagram.get(), length, name, sizeof name);
    if (kind != RequestKind::read_request) {
        FUZZ_CHECK(name[0] == 'x');  // nothing written for a datagram turned away
        if (kind == RequestKind::no_name)
            FUZZ_CHECK(length >= 2 && load_be16(datagram.get()) == kTftpRrq);
        else
            FUZZ_CHECK(length < 2 || load_be16(datagram.get()) != kTftpRrq);
        return 0;
    }
    // The name is the datagram's text from byte 2 to its first zero byte.
    FUZZ_CHECK(length >= 3 && load_be16(datagram.get()) == kTftpRrq);
    size_t name_length = std::strlen(name);
    FUZZ_CHECK(name_length < sizeof name);
    FUZZ_CHECK(name_length + 3 <= size);
    FUZZ_CHECK(std::memcmp(name, datagram.get() + 2, name_length + 1) == 0);
    return 0;
}
