#pragma once

#include "capture/gst_handle.h"

namespace zantrel {

// Stops pipelines on threads of their own, so that a camera whose network server froze while stopping
// holds up nobody. The threads are joined: at each new stop those that are done, and at the end of the
// program all of them, waiting a bounded time for a camera that still hangs.
// Sets pipeline to NULL and drops the reference given, waiting up to waitMs for that to finish.
void StopPipeline(gst::ElementPtr pipeline, int waitMs);

} // namespace zantrel
