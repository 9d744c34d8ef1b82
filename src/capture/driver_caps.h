#pragma once

namespace zantrel {

// What the connected camera offers, as the settings dialog enables its buttons from it.
struct DriverCaps {
    bool fHasOverlay = false;         // a video sink can draw straight into the video area
    bool fHasDlgVideoSource = false;  // adjustable controls to show in "Video Source"
    bool fHasDlgVideoFormat = false;  // formats to choose from in "Video Format"
    bool fHasDlgVideoDisplay = false; // no display dialog exists on this platform
    friend bool operator==(const DriverCaps&, const DriverCaps&) = default;
};

} // namespace zantrel
