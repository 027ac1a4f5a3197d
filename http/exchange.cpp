// http/exchange.cpp: one HTTP GET with the device, and the scraping of its information page.
#include "http/exchange.h"

#include <cstdio>
#include <cstring>

#include "app/upgrade_context.h"
#include "http/digest.h"

namespace {

// The device's web server answers only to the address it was made with, so
// every request names that one, whatever address it is reached at.
constexpr char kHostLine[] = "Host: 192.168.2.110\r\n";

// Local ports base to base + 100: a port left in use by an earlier exchange
// (or by another program) must not stop this one.
constexpr int kLocalPortTries = 101;

constexpr int kFieldLimit = 127;

struct LabelledField {
    const char *label;
    char (DeviceInfo::*text)[128];
};

// In this order: a page is scraped top to bottom of this table.
constexpr LabelledField kFields[] = {
    {"Product Name:", &DeviceInfo::product_name},
    {"MAC Address:", &DeviceInfo::mac_address},
    {"Software Version:", &DeviceInfo::software_version},
    {"Hardware Version:", &DeviceInfo::hardware_version},
    {"Serial Number:", &DeviceInfo::serial_number},
};

[[noreturn]] void fail_fatally(const char *text)
{
    show_failure(text);
    ExitProcess(0);
}

bool bind_local_port(SOCKET s, uint32_t local_address, uint16_t local_port_base)
{
    for (int k = 0; k < kLocalPortTries; k++) {
        sockaddr_in local;
        // A base above 65435 wraps to the low ports; the callers' base never does.
        fill_sockaddr(local_address, static_cast<uint16_t>(local_port_base + k), &local);
        if (bind(s, reinterpret_cast<const sockaddr *>(&local), sizeof local) != SOCKET_ERROR)
            return true;
    }
    return false;
}

// A request text under construction in the reply buffer: `size` bytes,
// the last always kept for the NUL.
struct RequestText {
    char *text;
    int32_t size;
    int32_t length;
};

// Appends `piece`, cut at the buffer's end so that the text stays one
// NUL-terminated string whatever the target's length.
void append(RequestText *request, const char *piece)
{
    int32_t room = request->size - 1 - request->length;
    int32_t count = static_cast<int32_t>(std::strlen(piece));
    if (count > room)
        count = room;
    std::memcpy(request->text + request->length, piece, static_cast<size_t>(count));
    request->length += count;
    request->text[request->length] = '\0';
}

// The request head; returns its length. A target too long for the buffer
// is cut with the request line, and the lines after it are cut as far as
// they no longer fit: the device then gets a malformed request and answers
// it as it will, but nothing is written past the buffer.
int32_t format_request(const char *target, char *buffer, int32_t capacity)
{
    RequestText request{buffer, capacity + 1, 0};
    buffer[0] = '\0';
    int written = std::snprintf(buffer, static_cast<size_t>(request.size), "GET %s HTTP/1.1\r\n", target);
    request.length = written < 0 ? 0 : (written < request.size ? written : request.size - 1);
    append(&request, kHostLine);
    if (upgrade.digest.password[0] != '\0') {
        // The count names this request, so it goes up before the line is
        // built, and also when the connection was never made.
        upgrade.digest.nonce_count++;
        char line[kAuthorizationCapacity];
        build_authorization(&upgrade.digest, target, line);
        append(&request, line);
    }
    append(&request, "\r\n");
    return request.length;
}

// The device reads the request in whatever pieces the network gives; a
// failed send is left for the receive to find.
void send_request(SOCKET s, const char *request, int32_t length)
{
    int32_t sent = 0;
    while (sent < length) {
        int n = send(s, request + sent, length - sent, 0);
        if (n <= 0)
            return;
        sent += n;
    }
}

// Until the device closes the connection, or it fails, or `capacity` bytes
// are in; the reply is kept NUL-terminated after every chunk. No time-out:
// the user aborts a silent device from the connecting screen.
int32_t receive_reply(SOCKET s, char *reply, int32_t capacity)
{
    int32_t received = 0;
    while (received < capacity) {
        int n = recv(s, reply + received, capacity - received, 0);
        if (n <= 0)
            break;
        received += n;
        reply[received] = '\0';
    }
    return received;
}

void scrape_device_info(const char *reply)
{
    for (const LabelledField &field : kFields)
        scrape_field(reply, field.label, upgrade.device_info.*field.text, kFieldLimit);
}

} // namespace

void fill_sockaddr(uint32_t address, uint16_t port, sockaddr_in *out)
{
    std::memset(out, 0, sizeof *out);
    out->sin_family = AF_INET;
    out->sin_port = htons(port);
    out->sin_addr.s_addr = address == 0 ? INADDR_ANY : htonl(address);
}

void read_sockaddr(const sockaddr_in *in, uint32_t *address, uint16_t *port)
{
    *address = ntohl(in->sin_addr.s_addr);
    *port = ntohs(in->sin_port);
}

SOCKET connect_to_device(uint32_t local_address, uint16_t local_port_base,
                         uint32_t device_address, uint16_t device_port)
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET)
        fail_fatally("Upgrade Failed: Can't open HTTP socket");
    if (!bind_local_port(s, local_address, local_port_base))
        fail_fatally("Upgrade Failed: Can't bind HTTP socket");
    sockaddr_in device;
    fill_sockaddr(device_address, device_port, &device);
    // Blocking, under the system's own connect time-out.
    if (connect(s, reinterpret_cast<const sockaddr *>(&device), sizeof device) == SOCKET_ERROR) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

int32_t http_exchange(uint32_t local_address, uint16_t local_port_base, uint32_t device_address,
                      uint16_t device_port, const char *target, char *reply, int32_t capacity)
{
    if (capacity < 0)
        capacity = 0;
    SOCKET s = connect_to_device(local_address, local_port_base, device_address, device_port);
    int32_t length = format_request(target, reply, capacity);
    trace("%s", reply);
    if (s == INVALID_SOCKET)
        return 0;
    send_request(s, reply, length);
    int32_t received = receive_reply(s, reply, capacity);
    trace("recv done\n");
    trace("%s", reply);
    trace("\n");
    if (received == 0) {
        closesocket(s);
        return 0;
    }
    if (classify_reply(reply, &upgrade.digest) == 1) {
        closesocket(s);
        return -1;
    }
    scrape_device_info(reply);
    closesocket(s);
    return received;
}

int classify_reply(const char *reply, DigestState *state)
{
    if (std::strncmp(reply, "HTTP/1.1", 8) != 0)
        return -1;
    if (reply[8] == '\0')
        return -2;
    // The ninth character is the blank after the version on any sane
    // device; it is passed over unread, and what follows it skipped.
    const char *status = reply + 9;
    while (*status == ' ' || *status == '\t')
        status++;
    if (*status == '\0')
        return -2;
    if (std::strncmp(status, "200", 3) == 0)
        return 0;
    if (std::strncmp(status, "401", 3) != 0)
        return 2;
    const char *challenge = std::strstr(status, "WWW-Authenticate:");
    if (challenge == nullptr)
        return 2;
    return parse_challenge(challenge, state) == 0 ? 1 : 2;
}

char *scrape_field(const char *reply, const char *label, char *destination, int limit)
{
    const char *at = std::strstr(reply, label);
    if (at == nullptr)
        return nullptr;
    // Past the end of the label's own element, then past every tag that
    // directly follows it: the value is the text before the next tag.
    do {
        at = std::strchr(at, '>');
        if (at == nullptr)
            return nullptr;
        at++;
    } while (*at == '<');
    int count = 0;
    while (count < limit && at[count] != '\0' && at[count] != '<') {
        destination[count] = at[count];
        count++;
    }
    destination[count] = '\0';
    return destination;
}
