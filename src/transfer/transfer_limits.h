#pragma once

#include <chrono>
#include <cstdint>

namespace zantrel {

// Bounds on every network wait of a transfer, whatever the protocol.
struct TransferLimits {
    std::chrono::milliseconds connect{30000}; // TCP connect, greeting and login
    std::chrono::seconds reply{30};           // any awaited server reply (whole seconds)
    std::chrono::milliseconds accept{30000};  // active mode: the server connecting back
    std::chrono::seconds stall{60};           // a data connection moving no byte (whole seconds)
    // Pauses before the second and third try of a server whose connection failed quickly.
    std::chrono::milliseconds retryPauses[2] = {std::chrono::milliseconds(2000),
                                                std::chrono::milliseconds(5000)};
    // Bytes a second below which a transfer counts as stalled (for stall, or reply while no body goes
    // out): a server that trickles its answer byte by byte is given up like a silent one.
    long lowSpeed = 256;
    // The most an answer to a request may bring; one that goes on is cut off there, not read on.
    std::int64_t answerBytes = 1024 * 1024;

    // The longest one delivery may take with every wait run to its limit: three tries, each a
    // connection, a data transfer and two replies, with the pauses between them.
    std::chrono::milliseconds deliveryBound() const {
        using std::chrono::milliseconds;
        return 3 * (connect + milliseconds(stall) + 2 * milliseconds(reply)) + retryPauses[0] +
               retryPauses[1];
    }
};

} // namespace zantrel
