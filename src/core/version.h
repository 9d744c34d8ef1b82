#pragma once

#include <QString>

namespace zantrel {

inline constexpr int kVersionMajor = ZANTREL_VERSION_MAJOR;
inline constexpr int kVersionMinor = ZANTREL_VERSION_MINOR;

// The source revision the program was built from (the commit count); 0 when the build had none.
int BuildRevision();

// "Webcam Zantrel 2.00": major unpadded, minor padded to two digits. Used as the caption of every
// message box, in the tray tip and in the main window's drawn caption.
inline QString applicationTitle() {
    return QStringLiteral("Webcam Zantrel %1.%2")
        .arg(kVersionMajor)
        .arg(kVersionMinor, 2, 10, QLatin1Char('0'));
}

} // namespace zantrel
