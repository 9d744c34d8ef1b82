#pragma once

#include "publish/publishing_core.h"
#include "transfer/transfer_limits.h"

#include <chrono>

namespace zantrel {

// `webcam-zantrel --once`: one publishing job with the stored settings and no window. Every status text
// goes to standard output on a line of its own as it is set, messages that would need a click go to
// standard error. Returns the exit status: 0 when the working file was written and every server that
// was tried received it, 1 otherwise. The whole run ends within OnceDeadline(limits): by then any
// transfer still running is stopped and counted as failed. Needs a QApplication (any platform plugin,
// offscreen included). startServices attaches what the job reads beside the camera (the stamp's fetched
// values); it may wait for them, within the time the camera is given for its first picture.
int RunOnce(const TransferLimits& limits = {}, const ServiceStarter& startServices = {});

// The longest `--once` takes: the wait for the camera's first picture, the slowest server's delivery
// with every wait run to its limit, and a little for the picture itself.
std::chrono::milliseconds OnceDeadline(const TransferLimits& limits = {});

} // namespace zantrel
