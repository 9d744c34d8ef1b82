#pragma once

#include <QString>
#include <functional>

class QObject;

namespace zantrel {

// The name of the program's desktop entry, which notification servers show the notices under.
inline constexpr char kDesktopEntry[] = "org.zantrel.WebcamZantrel";

// Shows a notice through the desktop's notification server on the session bus, without waiting for it.
// done, when given, is called on context's thread: with an empty text once the server took the notice,
// else with why it was not shown (no session bus, no notification server). Called from context's thread.
void ShowDesktopNotice(const QString& summary, const QString& body, bool warning, QObject* context,
                       std::function<void(const QString& error)> done = {});

} // namespace zantrel
