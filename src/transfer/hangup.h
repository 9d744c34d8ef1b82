#pragma once

#include "core/sinks.h"

class QDBusConnection;

namespace zantrel {

// Hangs up every active dial-up connection that NetworkManager knows (mobile broadband, PPPoE, ADSL,
// Bluetooth dial-up), in NetworkManager's order, without waiting for them to go down. Ethernet, Wi-Fi
// and the rest are left alone. No NetworkManager or any D-Bus failure: nothing happens, nothing is
// reported. Then beeps when FTP/BEEP is "YES". Blocks for at most a few seconds; call it off the
// user-interface thread.
void HangUpAll(StatusSink& status);
// The same on a given bus (the system bus above).
void HangUpAll(StatusSink& status, const QDBusConnection& bus);

} // namespace zantrel
