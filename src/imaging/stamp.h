#pragma once

#include "imaging/stamp_surface.h"
#include "imaging/stamp_template.h"

#include <QDateTime>
#include <QImage>
#include <QString>
#include <array>
#include <optional>

namespace zantrel {

// The stamp positions in list order; the list index is what the settings store.
inline constexpr std::array<const char*, 7> kStampPositions{
    "Top Left", "Top Center", "Top Right", "Center", "Bottom Left", "Bottom Center", "Bottom Right"};

// What to print on a frame. Colours are laid out 0x00BBGGRR. The publishing job and the preview both
// pass the user's background choice (IMAGE/TRANS and IMAGE/BACK, or the settings dialog's unconfirmed
// values), so the published image shows the stamps exactly as the preview does.
struct StampParams {
    bool time = false, date = false, text = false;
    int timePos = 0, datePos = 0, textPos = 0;
    quint32 timeColor = 0xFFFFFF, dateColor = 0xFFFFFF, textColor = 0xFFFFFF;
    QString freeText;
    QString nextUpdate; // what "&NEXT" in the free text becomes
    // The free text is already expanded (values read from files and addresses included): it prints as
    // it stands, so nothing a value holds is ever taken for a code.
    bool expanded = false;
    bool transparent = true;
    quint32 backColor = 0;
    // When set, the free text (after its "&" codes) is a template expanded in this context.
    std::optional<StampTemplateContext> context;
    // The type: a family (empty: the stamp's own) and a percent of the size that follows the frame.
    QString fontFamily;
    int fontPercent = 100;
    // The logo as it is to be printed (already at its size; null for none), its position index and
    // its opacity in percent.
    QImage logo;
    int logoPos = 6;
    int logoOpacity = 100;
};

// Line slots: items sharing a position stack instead of overlapping.
inline constexpr int kTimeSlot = 2;
inline constexpr int kDateSlot = 1;
inline constexpr int kTextSlot = 0;

// "hh:mm:ss" on the 24-hour clock and "MM-DD-YYYY".
QString StampTimeText(const QDateTime& moment);
QString StampDateText(const QDateTime& moment);

// Prints one item: pads the text with a blank on each side (in place), places it by the position index
// (0 … 6, see kStampPositions) and the line slot, and prints it in the colour. Any other index prints
// where the previous print left the position.
void DrawStamp(StampSurface& surface, int slot, int position, quint32 colour, QString& text);

// The free text's lines: the "&" codes, then the template when the params carry a context; the text as
// it stands when it is already expanded.
QStringList StampTextLines(const StampParams& params);

// The free text with "&DATE", "&TIME" and "&NEXT" (any letter case) replaced by the current date, the
// current time and `nextUpdate` (the caller's "MM-DD-YYYY at hh:mm:ss").
QString ExpandStampText(const QString& text, const QString& nextUpdate);

// Prints the switched-on items on the frame: the time, then the date, then the expanded free text, each
// reading the clock afresh, then the logo. Items land where DrawStamp puts them, except that none covers
// another: an item that would is moved line by line away from its edge of the frame until it is clear.
// The free text prints a line per template line, cut to the frame's width, and as many lines as fit.
// Only the pixels the stamps cover are touched. Any thread, while a QGuiApplication exists. Each frame
// starts printing at the top-left corner.
void StampFrame(QImage& frame, const StampParams& params);
// The same onto any surface, from its current print position.
void StampItems(StampSurface& surface, const StampParams& params);

} // namespace zantrel
