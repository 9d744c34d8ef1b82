#include "settings/control_rules.h"

namespace zantrel {

QStringList IntervalUnits() {
    return {QStringLiteral("Days"), QStringLiteral("Hours"), QStringLiteral("Minutes"),
            QStringLiteral("Seconds")};
}

QStringList SecondUnits(int mainUnit) {
    const QStringList units = IntervalUnits();
    if (mainUnit < 0 || mainUnit >= units.size())
        return {};
    return units.mid(mainUnit + 1);
}

int MainUnitMaximum(int mainUnit) {
    switch (mainUnit) {
    case 0:
        return 60;
    case 1:
        return 24;
    default:
        return 59;
    }
}

int SecondUnitMaximum(const QString& unit) {
    return unit == QLatin1String("Hours") ? 23 : 59;
}

QString PreviewRateText(int framesPerSecond) {
    return QStringLiteral("Preview Frame Rate (%1 FPS)").arg(framesPerSecond, 2, 10, QLatin1Char('0'));
}

QString CompressionText(int percent) {
    return QStringLiteral("JPEG Compression (%1%)").arg(percent);
}

} // namespace zantrel
