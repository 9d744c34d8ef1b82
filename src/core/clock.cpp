#include "core/clock.h"

#include <atomic>

namespace zantrel {

namespace {
const SystemClock systemClock;
std::atomic<const Clock*> current{&systemClock};
} // namespace

const Clock& clock() {
    return *current.load();
}

ScopedClock::ScopedClock(const Clock& replacement) : previous_(current.exchange(&replacement)) {}
ScopedClock::~ScopedClock() {
    current.store(previous_);
}

} // namespace zantrel
