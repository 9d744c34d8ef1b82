#pragma once

// Capture-private: the formats a camera offers, read from the caps of its source pad.

#include "capture/gst_handle.h"
#include "capture/video_format.h"

namespace zantrel {

// Every fixed combination of size, pixel format and frame rate that caps allow. Ranges of sizes or
// rates are represented by the usual values inside them (and their upper end), so a camera that can
// do "anything" still yields a short, useful list. Duplicates removed, order kept.
std::vector<VideoFormat> enumerateFormats(const GstCaps* caps);

} // namespace zantrel
