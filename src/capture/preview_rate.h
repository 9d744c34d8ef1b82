#pragma once

#include <cstdint>

namespace zantrel {

// Preview frames a second as the settings hold them (PREF/PFR, default 12), rounded to a whole number.
std::int16_t ReadPreviewRate();

// Milliseconds between preview frames: 1000 / framesPerSecond rounded half to even, 0 (no limit)
// below one frame a second. 12 gives 83, 30 gives 33, 7 gives 143.
int PreviewIntervalMs(int framesPerSecond);

} // namespace zantrel
