// http/exchange.h: one HTTP GET with the device, and the reading of its
// information page.
#pragma once

#include <cstdint>

#include "http/digest_state.h"
#include "platform/win32.h"

// Host-order IPv4 address and port to a socket address (0: any address),
// and back.
void fill_sockaddr(uint32_t address, uint16_t port, sockaddr_in *out);
void read_sockaddr(const sockaddr_in *in, uint32_t *address, uint16_t *port);

// A TCP connection from `local_address` and the first free port of
// local_port_base to local_port_base + 100, to the device; INVALID_SOCKET
// when the connection fails. Ends the process, after a failure box, when no
// socket can be made or bound.
SOCKET connect_to_device(uint32_t local_address, uint16_t local_port_base,
                         uint32_t device_address, uint16_t device_port);

// One GET of `target`: -1 when the device demands authentication (the
// digest state then holds its challenge), otherwise the reply's byte
// count, 0 for no reply. `reply` holds `capacity` + 1 bytes.
int32_t http_exchange(uint32_t local_address, uint16_t local_port_base, uint32_t device_address,
                      uint16_t device_port, const char *target, char *reply, int32_t capacity);

// -1 not HTTP/1.1, -2 no status code, 0 status 200, 1 a 401 with a usable
// challenge (taken into `state`), 2 any other reply.
int classify_reply(const char *reply, DigestState *state);

// Copies the value that follows `label` and its tags, up to the next "<"
// and at most `limit` characters, into `destination` (limit + 1 bytes) and
// returns it; returns null and leaves `destination` alone when there is none.
char *scrape_field(const char *reply, const char *label, char *destination, int limit);
