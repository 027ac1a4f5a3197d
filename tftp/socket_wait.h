// tftp/socket_wait.h: the idle step of the TFTP loops.
#pragma once

#include "platform/win32.h"

// Waits at most 1 ms for a datagram on `udp_socket`, and no longer once one
// is there. A plain 1 ms sleep would last a whole timer tick on Windows
// (about 15.6 ms), and the device waits out every such tick before its
// next block goes out.
inline void wait_for_datagram(SOCKET udp_socket)
{
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(udp_socket, &readable);
    timeval limit;
    limit.tv_sec = 0;
    limit.tv_usec = 1000;
    if (select(0, &readable, nullptr, nullptr, &limit) == SOCKET_ERROR)
        Sleep(1);
}
