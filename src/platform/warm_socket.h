#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

// A TCP connection opened ahead of a request, with nothing sent on it, so that the
// request pays no handshake for it: libcurl takes it through its open-socket callback,
// told it is connected. Linux only: on Windows connectAhead opens nothing (see
// warm_socket_win.cpp).
namespace platform {

using SocketHandle = std::intptr_t; // an fd, or a SOCKET
inline constexpr SocketHandle kNoSocket = -1;

// Resolves `host` and connects to its first address on `port` within `limit`, giving up
// early when `stop` turns true. kNoSocket on any failure. The completed connection is
// left for the next connect() to collect: libcurl 7.88 calls it even on a socket it is
// told is connected, and Linux answers it with success once.
[[nodiscard]] SocketHandle connectAhead(const std::string &host, long port, std::chrono::milliseconds limit,
                                        const std::atomic<bool> &stop);

// False once the peer has closed or reset it; nothing is read from it.
[[nodiscard]] bool isStillOpen(SocketHandle socket);

// True when it is connected to `address` (a sockaddr of `length` bytes).
[[nodiscard]] bool isConnectedTo(SocketHandle socket, const void *address, std::size_t length);

void closeSocket(SocketHandle socket) noexcept;

} // namespace platform
