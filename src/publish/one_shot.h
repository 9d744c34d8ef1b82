#pragma once

namespace zantrel {

// `webcam-zantrel --once`: one publishing job with the stored settings and no window. Every status text
// goes to standard output on a line of its own as it is set, messages that would need a click go to
// standard error. Returns the exit status: 0 when the working file was written and every server that
// was tried received it, 1 otherwise. Needs a QApplication (any platform plugin, offscreen included).
int RunOnce();

} // namespace zantrel
