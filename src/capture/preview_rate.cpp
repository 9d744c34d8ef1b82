#include "capture/preview_rate.h"

#include "core/leading_number.h"
#include "core/store.h"

#include <algorithm>
#include <cmath>

namespace zantrel {

std::int16_t ReadPreviewRate() {
    return ReadInt16(keys::PrefPreviewRate);
}

int PreviewIntervalMs(int framesPerSecond) {
    if (framesPerSecond < 1)
        return 0;
    return ToInt32(1000.0 / framesPerSecond).value_or(0);
}

int PipelineRate(int intervalMs) {
    return intervalMs > 0 ? std::max(1, int(std::lround(1000.0 / intervalMs))) : 0;
}

} // namespace zantrel
