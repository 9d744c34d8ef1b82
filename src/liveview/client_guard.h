#pragma once

#include <QByteArray>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

struct MHD_Connection;
struct sockaddr;

namespace zantrel {

// Who a client is to the limits: its IPv4 address, or its IPv6 address's /64 network (what one
// subscriber gets), so that one machine counts once whichever of its addresses it uses.
QByteArray ClientKey(const sockaddr* address);

// The live view's connections as the defences against slow clients see them. A connection waits for a
// request from its opening, and again after each answer, until the request's headers have come. One
// client address keeps at most kWaitingPerAddress connections waiting and the server kWaitingInAll;
// beyond that the ones waiting longest (for kGrace at least: a burst of fast clients is not cut) are cut,
// so that a new client always gets in and is answered, however many connections someone else holds
// open. A connection still waiting after kHeaderTime is cut too.
// Stream clients resting until the next frame are looked at for having gone. Cutting shuts the socket
// down and leaves the closing to the library. Safe on any thread.
class ClientGuard {
  public:
    static constexpr int kWaitingPerAddress = 8;
    static constexpr int kWaitingInAll = 128;
    static constexpr std::chrono::seconds kHeaderTime{10};
    static constexpr std::chrono::seconds kGrace{1};
    using Clock = std::chrono::steady_clock;

    ClientGuard();
    ~ClientGuard();

    // The library's notes: a connection opened (socket fd, from address) or closed, a request's headers
    // complete, its answer done.
    void opened(MHD_Connection* c, const sockaddr* address, int fd);
    void closed(MHD_Connection* c);
    void requestBegins(MHD_Connection* c);
    void requestEnds(MHD_Connection* c);
    QByteArray clientKey(MHD_Connection* c) const;

    // A stream client resting until the next frame; cancelWait takes it out of that wait (false when the
    // wait ended meanwhile). awake(): it runs again.
    void resting(MHD_Connection* c, std::function<bool()> cancelWait);
    void awake(MHD_Connection* c);

    // Cuts the connections whose request is late; returns the resting stream clients that went away, each
    // taken out of its wait already: the caller wakes them to be closed.
    std::vector<MHD_Connection*> sweep(Clock::time_point now);

  private:
    struct Peer;
    // Cuts the longest waiting connections beyond the limits, of those waiting for kGrace at least.
    void enforceLimits(Clock::time_point now);

    mutable std::mutex mutex_;
    std::map<MHD_Connection*, Peer> peers_;
};

} // namespace zantrel
