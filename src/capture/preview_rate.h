#pragma once

#include <cstdint>

namespace zantrel {

// Preview frames a second as the settings hold them (PREF/PFR, default 12), rounded to a whole number.
std::int16_t ReadPreviewRate();

// Milliseconds between preview frames: 1000 / framesPerSecond rounded half to even, 0 (no limit)
// below one frame a second. 12 gives 83, 30 gives 33, 7 gives 143.
int PreviewIntervalMs(int framesPerSecond);

// The pipeline's frame-rate limit that keeps the given interval between frames: at least 1 for any
// interval (one frame a second stays limited), 0 for no limit (an interval of 0).
int PipelineRate(int intervalMs);

} // namespace zantrel
