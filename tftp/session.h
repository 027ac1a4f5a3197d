// tftp/session.h: serving one firmware image to the device, block by block.
#pragma once

#include <cstdint>

#include "platform/win32.h"
#include "tftp/packets.h"

struct TftpSession {
    char file_name[128];
    char packet_buffer[kTftpPacketCapacity];  // received into; OACK and DATA built in it
    uint32_t local_address;  // host order
    uint32_t peer_address;   // source of the accepted read request
    uint16_t local_port;
    uint16_t peer_port;
    SOCKET udp_socket;       // the listener's
    uint32_t current_block;  // 0 while the OACK awaits its ACK; n while DATA block n does
    uint32_t image_size;
    uint32_t block_count;    // image_size / 512 + 1
    int32_t bytes_acked;
    int32_t last_block_size;  // image_size % 512
    int32_t in_flight_size;   // image bytes in the packet awaiting its ACK
};

enum class UploadOutcome { complete, failed };

// Serves the image of the current target_mode to the peer, then runs the
// completion step. Returns when that has finished.
void run_tftp_session(SOCKET udp_socket, uint32_t local_address, uint16_t local_port,
                      uint32_t peer_address, uint16_t peer_port, const char *file_name);

UploadOutcome serve_image(TftpSession *session);
void send_oack(SOCKET udp_socket, char *packet_buffer, const sockaddr_in *peer, uint32_t image_size);
void send_data_block(SOCKET udp_socket, char *packet_buffer, const uint8_t *data, int32_t count,
                     uint16_t block, const sockaddr_in *peer);
