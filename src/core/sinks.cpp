#include "core/sinks.h"

namespace zantrel {

QString OneLine(const QString& text) {
    QString line = text;
    for (QChar& c : line) {
        const char16_t u = c.unicode();
        if (u < 0x20 || (u >= 0x7f && u < 0xa0) || u == 0x2028 || u == 0x2029)
            c = QLatin1Char(' ');
    }
    return line;
}

} // namespace zantrel
