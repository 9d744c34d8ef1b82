#pragma once

#include <cmath>

namespace zantrel {

// Nearest integer, a half going to the even neighbour (2.5 → 2, 3.5 → 4), whatever the FPU's mode.
inline double roundHalfEven(double v) {
    const double lower = std::floor(v);
    const double fraction = v - lower;
    if (fraction > 0.5)
        return lower + 1;
    if (fraction < 0.5)
        return lower;
    return std::fmod(lower, 2.0) == 0.0 ? lower : lower + 1;
}

} // namespace zantrel
