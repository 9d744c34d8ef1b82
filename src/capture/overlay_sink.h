#pragma once

#include <QString>

namespace zantrel {

// The video sink that can draw straight into a native window of the current display (xvimagesink,
// glimagesink or ximagesink, the first that opens), or empty when none can: no X11 display, as with
// the offscreen and Wayland platforms, or no such plugin. Probed once per process.
QString OverlaySinkFactory();

} // namespace zantrel
