#pragma once

#include <chrono>

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
};

} // namespace zantrel
