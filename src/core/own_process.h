#pragma once

#include <QByteArray>

namespace zantrel {

// A field of the kernel's status of this process ("Umask", "TracerPid"), its value trimmed; empty when
// the field is unknown.
QByteArray OwnStatusField(const char* name);

// Sets the process up before anything else runs. SIGPIPE is ignored: a reader of the output that goes
// away (a closed terminal, `| head`) must not end publishing. And the process is made non-dumpable, so
// the passwords it holds never land in a core dump nor can be read by attaching to it, except while it
// is debugged: a debugger attached at start, WEBCAM_ZANTREL_DEBUG=1, or a sanitizer build (whose leak
// check attaches to the process).
void HardenProcess();

} // namespace zantrel
