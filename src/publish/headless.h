#pragma once

#include "publish/publishing_core.h"

namespace zantrel {

// `webcam-zantrel --headless`: publishes on the stored schedule with no window, until SIGTERM or SIGINT.
// Status texts go to standard output, a line each (the countdown only when it changes), messages to
// standard error. The schedule always runs, whatever the preference to run at start says. SIGHUP
// recomputes the next update from the settings as they are now. A running upload is cut short at the
// end; returns 0. Needs a QApplication (the offscreen platform will do) and the instance lock.
// startServices attaches the services that run beside publishing.
int RunHeadless(const ServiceStarter& startServices = {});

// How long closing waits for a running job before the process ends regardless.
inline constexpr int kCloseBoundMs = 1500;

// The process ends now, without waiting for a job thread that did not finish in time: output is
// flushed, nothing else runs.
[[noreturn]] void EndProcessNow(int exitCode);

} // namespace zantrel
