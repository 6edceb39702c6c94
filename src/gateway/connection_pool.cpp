#include "gateway/connection_pool.h"

#include "platform/module_error.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

namespace gateway {
namespace {

using Clock = std::chrono::steady_clock;

// Servers close a connection that says nothing after 20 s or more; one older than this
// is not trusted to be open by the time the request would use it.
constexpr std::chrono::seconds kWarmFor{15};
constexpr std::chrono::seconds kConnectLimit{10};

} // namespace

struct ConnectionPool::Warm {
    enum class State { Idle, Connecting, Ready };
    std::mutex mutex;
    std::condition_variable changed;
    State state = State::Idle;
    platform::SocketHandle socket = platform::kNoSocket;
    Clock::time_point connected;
    std::atomic<bool> stop{false};

    // With the mutex held: gives up a ready connection that is too old or was closed.
    void dropStale()
    {
        if (state == State::Ready
            && (Clock::now() - connected >= kWarmFor || !platform::isStillOpen(socket))) {
            platform::closeSocket(std::exchange(socket, platform::kNoSocket));
            state = State::Idle;
        }
    }
};

ConnectionPool::ConnectionPool()
    : warm_(std::make_shared<Warm>())
{
}

ConnectionPool::~ConnectionPool()
{
    // The connecting thread may still wait on a name server: it ends on its own and
    // closes what it opened.
    const std::lock_guard<std::mutex> lock(warm_->mutex);
    warm_->stop = true;
    platform::closeSocket(std::exchange(warm_->socket, platform::kNoSocket));
}

CURLSH *ConnectionPool::handle()
{
    if (share_)
        return share_.get();
    std::unique_ptr<CURLSH, ShareDeleter> share(curl_share_init());
    if (!share)
        throw ModuleError("Impossible de préparer la connexion réseau.", "curl_share_init failed");
    for (const curl_lock_data data : {CURL_LOCK_DATA_CONNECT, CURL_LOCK_DATA_SSL_SESSION, CURL_LOCK_DATA_DNS}) {
        if (const CURLSHcode code = curl_share_setopt(share.get(), CURLSHOPT_SHARE, data); code != CURLSHE_OK)
            throw ModuleError("Impossible de préparer la connexion réseau.", curl_share_strerror(code));
    }
    share_ = std::move(share);
    return share_.get();
}

void ConnectionPool::warmUp(const std::string &host, long port)
{
    const std::shared_ptr<Warm> warm = warm_;
    {
        const std::lock_guard<std::mutex> lock(warm->mutex);
        warm->dropStale();
        if (warm->state != Warm::State::Idle)
            return;
        warm->state = Warm::State::Connecting;
    }
    std::thread([warm, host, port] {
        const platform::SocketHandle socket = platform::connectAhead(host, port, kConnectLimit, warm->stop);
        const std::lock_guard<std::mutex> lock(warm->mutex);
        if (warm->stop) {
            platform::closeSocket(socket);
            return;
        }
        warm->socket = socket;
        warm->connected = Clock::now();
        warm->state = socket == platform::kNoSocket ? Warm::State::Idle : Warm::State::Ready;
        warm->changed.notify_all();
    }).detach();
}

platform::SocketHandle ConnectionPool::takeWarm(const void *address, std::size_t length,
                                                const std::atomic<bool> *cancel)
{
    std::unique_lock<std::mutex> lock(warm_->mutex);
    // What the click would otherwise pay for a connection of its own.
    const auto deadline = Clock::now() + kConnectLimit;
    while (warm_->state == Warm::State::Connecting && (cancel == nullptr || !*cancel) && Clock::now() < deadline)
        warm_->changed.wait_for(lock, std::chrono::milliseconds(50));
    warm_->dropStale();
    if (warm_->state != Warm::State::Ready || !platform::isConnectedTo(warm_->socket, address, length))
        return platform::kNoSocket; // a connection elsewhere stays for a later request
    warm_->state = Warm::State::Idle;
    return std::exchange(warm_->socket, platform::kNoSocket);
}

} // namespace gateway
