#include "liveview/client_guard.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zantrel {

QByteArray ClientKey(const sockaddr* address) {
    if (!address)
        return {};
    if (address->sa_family == AF_INET) {
        const auto* in4 = reinterpret_cast<const sockaddr_in*>(address);
        return QByteArray(reinterpret_cast<const char*>(&in4->sin_addr), sizeof in4->sin_addr);
    }
    if (address->sa_family != AF_INET6)
        return {};
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(address);
    const auto* bytes = reinterpret_cast<const char*>(&in6->sin6_addr);
    if (IN6_IS_ADDR_V4MAPPED(&in6->sin6_addr))
        return QByteArray(bytes + 12, 4); // an IPv4 client of a server on every IPv6 address
    if (IN6_IS_ADDR_LOOPBACK(&in6->sin6_addr))
        return QByteArray(bytes, 16);
    return QByteArray(bytes, 8);
}

// The guard's own descriptor of the connection's socket: it stays valid until the guard lets go of it,
// whenever the library closes its own.
struct ClientGuard::Peer {
    QByteArray key;
    int fd = -1;
    bool waiting = true;
    bool cut = false;
    Clock::time_point since;
    std::function<bool()> cancelWait; // set while a stream client rests

    Peer(QByteArray k, int socket) : key(std::move(k)), fd(socket), since(Clock::now()) {}
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;
    ~Peer() {
        if (fd >= 0)
            ::close(fd);
    }
    void shut() {
        cut = true;
        ::shutdown(fd, SHUT_RDWR); // the library then reads the end and closes the connection
    }
};

ClientGuard::ClientGuard() = default;
ClientGuard::~ClientGuard() = default;

void ClientGuard::opened(MHD_Connection* c, const sockaddr* address, int fd) {
    const int own = fd >= 0 ? ::fcntl(fd, F_DUPFD_CLOEXEC, 0) : -1;
    if (own < 0)
        return; // unguarded: the library's idle timeout still ends it
    std::lock_guard lock(mutex_);
    peers_.erase(c);
    peers_.try_emplace(c, ClientKey(address), own);
    enforceLimits(Clock::now());
}

void ClientGuard::enforceLimits(Clock::time_point now) {
    std::vector<Peer*> waiting;
    std::map<QByteArray, int> perAddress;
    for (auto& [connection, peer] : peers_) {
        if (peer.waiting && !peer.cut) {
            waiting.push_back(&peer);
            ++perAddress[peer.key];
        }
    }
    // The longest waiting give way first; a connection just opened may still be a fast client's.
    std::sort(waiting.begin(), waiting.end(),
              [](const Peer* x, const Peer* y) { return x->since < y->since; });
    auto inAll = static_cast<int>(waiting.size());
    for (Peer* peer : waiting) {
        if (now - peer->since < kGrace)
            break;
        int& ofAddress = perAddress[peer->key];
        if (ofAddress > kWaitingPerAddress || inAll > kWaitingInAll) {
            peer->shut();
            --ofAddress;
            --inAll;
        }
    }
}

void ClientGuard::closed(MHD_Connection* c) {
    std::lock_guard lock(mutex_);
    peers_.erase(c);
}

void ClientGuard::requestBegins(MHD_Connection* c) {
    std::lock_guard lock(mutex_);
    if (const auto found = peers_.find(c); found != peers_.end())
        found->second.waiting = false;
}

void ClientGuard::requestEnds(MHD_Connection* c) {
    std::lock_guard lock(mutex_);
    if (const auto found = peers_.find(c); found != peers_.end()) {
        found->second.waiting = true;
        found->second.since = Clock::now();
    }
}

QByteArray ClientGuard::clientKey(MHD_Connection* c) const {
    std::lock_guard lock(mutex_);
    const auto found = peers_.find(c);
    return found == peers_.end() ? QByteArray() : found->second.key;
}

void ClientGuard::resting(MHD_Connection* c, std::function<bool()> cancelWait) {
    std::lock_guard lock(mutex_);
    if (const auto found = peers_.find(c); found != peers_.end())
        found->second.cancelWait = std::move(cancelWait);
}

void ClientGuard::awake(MHD_Connection* c) {
    std::lock_guard lock(mutex_);
    if (const auto found = peers_.find(c); found != peers_.end())
        found->second.cancelWait = nullptr;
}

std::vector<MHD_Connection*> ClientGuard::sweep(Clock::time_point now) {
    std::lock_guard lock(mutex_);
    enforceLimits(now);
    std::vector<pollfd> resting;
    std::vector<MHD_Connection*> restingConnections;
    for (auto& [connection, peer] : peers_) {
        if (peer.waiting && !peer.cut && now - peer.since > kHeaderTime)
            peer.shut();
        if (peer.cancelWait) {
            resting.push_back({peer.fd, POLLRDHUP, 0});
            restingConnections.push_back(connection);
        }
    }
    std::vector<MHD_Connection*> gone;
    if (resting.empty() || ::poll(resting.data(), resting.size(), 0) <= 0)
        return gone;
    for (std::size_t i = 0; i < resting.size(); ++i) {
        if (!(resting[i].revents & (POLLRDHUP | POLLHUP | POLLERR)))
            continue;
        Peer& peer = peers_.find(restingConnections[i])->second;
        if (peer.cancelWait()) // else a frame woke it meanwhile: sending shows the library it is gone
            gone.push_back(restingConnections[i]);
        peer.cancelWait = nullptr;
    }
    return gone;
}

} // namespace zantrel
