#pragma once

#include <QString>
#include <QStringList>

namespace zantrel {

// The rules the settings dialog's controls follow, apart from any widget.

// The interval units of the timer page, largest first; the stored unit is the index.
QStringList IntervalUnits();
// The second units offered after choosing a main unit: the smaller ones, in order.
QStringList SecondUnits(int mainUnit);
// Largest count for the main unit: days 60, hours 24, minutes and seconds 59.
int MainUnitMaximum(int mainUnit);
// Largest count for the second unit: 23 hours, otherwise 59.
int SecondUnitMaximum(const QString& unit);

// "Preview Frame Rate (07 FPS)" and "JPEG Compression (5%)".
QString PreviewRateText(int framesPerSecond);
QString CompressionText(int percent);

} // namespace zantrel
