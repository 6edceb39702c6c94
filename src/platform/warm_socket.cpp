#include "platform/warm_socket.h"

#include <cerrno>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {
namespace {

struct AddressesDeleter {
    void operator()(addrinfo *list) const noexcept { freeaddrinfo(list); }
};

} // namespace

SocketHandle connectAhead(const std::string &host, long port, std::chrono::milliseconds limit,
                          const std::atomic<bool> &stop)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || found == nullptr)
        return kNoSocket;
    const std::unique_ptr<addrinfo, AddressesDeleter> addresses(found);
    const int fd = ::socket(found->ai_family, found->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, found->ai_protocol);
    if (fd < 0)
        return kNoSocket;
    if (::connect(fd, found->ai_addr, found->ai_addrlen) != 0 && errno != EINPROGRESS) {
        ::close(fd);
        return kNoSocket;
    }
    // In slices, so that the module's end is not kept waiting.
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!stop && std::chrono::steady_clock::now() < deadline) {
        pollfd waiting{fd, POLLOUT, 0};
        const int ready = ::poll(&waiting, 1, 50);
        if (ready < 0 && errno != EINTR)
            break;
        if (ready > 0) {
            int error = 0;
            socklen_t size = sizeof error;
            if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0)
                break;
            // libcurl takes it as it makes its own: blocking until it says otherwise.
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
            return fd;
        }
    }
    ::close(fd);
    return kNoSocket;
}

bool isStillOpen(SocketHandle socket)
{
    // A connection on which we sent nothing has nothing to read, unless it was closed.
    pollfd waiting{static_cast<int>(socket), POLLIN, 0};
    return ::poll(&waiting, 1, 0) == 0;
}

bool isConnectedTo(SocketHandle socket, const void *address, std::size_t length)
{
    sockaddr_storage peer{};
    socklen_t size = sizeof peer;
    if (::getpeername(static_cast<int>(socket), reinterpret_cast<sockaddr *>(&peer), &size) != 0)
        return false;
    return size == length && std::memcmp(&peer, address, length) == 0;
}

void closeSocket(SocketHandle socket) noexcept
{
    if (socket != kNoSocket)
        ::close(static_cast<int>(socket));
}

} // namespace platform
