#pragma once

#include <QStringList>

namespace zantrel {

// The windows CloseApplication closes, by object name, in the order it closes them.
QStringList CloseOrder();

// Closes every window of the program in a fixed order (the main window saves its state on the way) and
// ends the event loop. A window that is not open is skipped; one that refuses to close does not stop the
// rest.
void CloseApplication();

} // namespace zantrel
