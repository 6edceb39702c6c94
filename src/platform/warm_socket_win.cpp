#include "platform/warm_socket.h"

#include <winsock2.h>

// Not on Windows: libcurl 7.88 calls connect() on a socket it is handed as already
// connected, which Winsock refuses (WSAEISCONN); Linux answers that connect() with
// success. The request would fail over to a connection of its own and gain nothing, so
// no connection is opened ahead.
namespace platform {

SocketHandle connectAhead(const std::string &, long, std::chrono::milliseconds, const std::atomic<bool> &)
{
    return kNoSocket;
}

bool isStillOpen(SocketHandle)
{
    return false;
}

bool isConnectedTo(SocketHandle, const void *, std::size_t)
{
    return false;
}

void closeSocket(SocketHandle socket) noexcept
{
    if (socket != kNoSocket)
        closesocket(static_cast<SOCKET>(socket));
}

} // namespace platform
