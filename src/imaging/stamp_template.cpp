#include "imaging/stamp_template.h"

#include "core/active_hours.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QStringDecoder>

namespace zantrel {

namespace {

QString dateCode(QChar code, const StampTemplateContext& c) {
    const QDate d = c.now.date();
    const QTime t = c.now.time();
    const auto two = [](int v) { return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0')); };
    switch (code.unicode()) {
    case 'Y':
        return QString::number(d.year());
    case 'm':
        return two(d.month());
    case 'd':
        return two(d.day());
    case 'H':
        return two(t.hour());
    case 'M':
        return two(t.minute());
    case 'S':
        return two(t.second());
    case 'a':
        return c.locale.dayName(d.dayOfWeek(), QLocale::ShortFormat);
    case 'A':
        return c.locale.dayName(d.dayOfWeek(), QLocale::LongFormat);
    case 'b':
        return c.locale.monthName(d.month(), QLocale::ShortFormat);
    case 'B':
        return c.locale.monthName(d.month(), QLocale::LongFormat);
    case 'j':
        return QStringLiteral("%1").arg(d.dayOfYear(), 3, 10, QLatin1Char('0'));
    case 'Z':
        return c.now.timeZoneAbbreviation();
    case '%':
        return QStringLiteral("%");
    default:
        return QLatin1Char('%') + code; // not a code: printed as it stands
    }
}

QString sunTime(bool rise, const StampTemplateContext& c) {
    if (!c.latitude || !c.longitude)
        return QStringLiteral("--");
    const SunDay day = SunOnDate(c.now.date(), *c.latitude, *c.longitude, c.now.timeZone());
    const std::optional<QDateTime>& moment = rise ? day.rise : day.set;
    if (!moment)
        return QStringLiteral("--");
    return moment->toTimeZone(c.now.timeZone()).toString(QStringLiteral("HH:mm"));
}

// The text a "{...}" code stands for, or nothing for a code this program does not know.
std::optional<QString> braceCode(const QString& code, const StampTemplateContext& c) {
    if (code == QLatin1String("sunrise"))
        return sunTime(true, c);
    if (code == QLatin1String("sunset"))
        return sunTime(false, c);
    if (code == QLatin1String("instance"))
        return c.instance;
    if (code == QLatin1String("host"))
        return c.host;
    const qsizetype colon = code.indexOf(QLatin1Char(':'));
    if (colon <= 0)
        return std::nullopt;
    const QString kind = code.left(colon);
    if (kind != QLatin1String("file") && kind != QLatin1String("json") && kind != QLatin1String("url"))
        return std::nullopt;
    std::optional<QString> value = c.value ? c.value(kind, code.mid(colon + 1)) : std::nullopt;
    return value ? *value : QStringLiteral("--");
}

} // namespace

QString ExpandStampTemplate(const QString& text, const StampTemplateContext& context) {
    QString out;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n && out.size() < kMaxStampTextChars; ++i) {
        const QChar ch = text[i];
        if (ch == QLatin1Char('%') && i + 1 < n) {
            out += dateCode(text[++i], context);
        } else if (ch == QLatin1Char('\\') && i + 1 < n && text[i + 1] == QLatin1Char('n')) {
            out += QLatin1Char('\n');
            ++i;
        } else if (ch == QLatin1Char('{')) {
            const qsizetype close = text.indexOf(QLatin1Char('}'), i + 1);
            const std::optional<QString> value =
                close < 0 ? std::nullopt : braceCode(text.mid(i + 1, close - i - 1), context);
            if (!value) {
                out += ch; // unknown: printed as it stands
                continue;
            }
            out += *value;
            i = close;
        } else {
            out += ch;
        }
    }
    out.truncate(kMaxStampTextChars);
    return out;
}

QStringList StampTemplateLines(const QString& expanded) {
    QStringList lines = expanded.split(QLatin1Char('\n'));
    for (QString& line : lines) {
        line.removeIf([](QChar c) { return c.category() == QChar::Other_Control; });
    }
    return lines;
}

StampValueAddress ParseStampValueAddress(const QString& argument, bool json) {
    StampValueAddress a;
    const qsizetype hash = argument.lastIndexOf(QLatin1Char('#'));
    a.path = hash < 0 ? argument : argument.left(hash);
    const QString rest = hash < 0 ? QString() : argument.mid(hash + 1);
    if (json) {
        a.pointer = rest;
    } else if (hash >= 0) {
        bool ok = false;
        const int line = rest.toInt(&ok);
        if (ok && line >= 1)
            a.line = line;
        else
            a.path = argument; // a '#' that belongs to the name
    }
    return a;
}

std::optional<QString> JsonPointerValue(const QByteArray& document, const QString& pointer) {
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(document, &error);
    if (error.error != QJsonParseError::NoError)
        return std::nullopt;
    QJsonValue at = doc.isArray() ? QJsonValue(doc.array()) : QJsonValue(doc.object());
    if (!pointer.isEmpty() && !pointer.startsWith(QLatin1Char('/')))
        return std::nullopt;
    const QStringList tokens = pointer.isEmpty() ? QStringList() : pointer.mid(1).split(QLatin1Char('/'));
    for (QString token : tokens) {
        token.replace(QLatin1String("~1"), QLatin1String("/"))
            .replace(QLatin1String("~0"), QLatin1String("~"));
        if (at.isObject()) {
            const QJsonObject object = at.toObject();
            if (!object.contains(token))
                return std::nullopt;
            at = object.value(token);
        } else if (at.isArray()) {
            bool ok = false;
            const int index = token.toInt(&ok);
            const QJsonArray array = at.toArray();
            if (!ok || index < 0 || index >= array.size())
                return std::nullopt;
            at = array.at(index);
        } else {
            return std::nullopt;
        }
    }
    switch (at.type()) {
    case QJsonValue::String:
        return at.toString();
    case QJsonValue::Double:
        return QString::number(at.toDouble(), 'g', 15);
    case QJsonValue::Bool:
        return at.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QJsonValue::Null:
        return QStringLiteral("null");
    case QJsonValue::Object:
        return QString::fromUtf8(QJsonDocument(at.toObject()).toJson(QJsonDocument::Compact));
    case QJsonValue::Array:
        return QString::fromUtf8(QJsonDocument(at.toArray()).toJson(QJsonDocument::Compact));
    default:
        return std::nullopt;
    }
}

std::optional<QString> TextLine(const QByteArray& text, int n) {
    if (text.contains('\0'))
        return std::nullopt;
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString decoded = decoder.decode(text);
    if (decoder.hasError())
        return std::nullopt;
    const QStringList lines = decoded.split(QLatin1Char('\n'));
    if (n < 1 || n > lines.size() || (n == lines.size() && lines.last().isEmpty() && n > 1))
        return std::nullopt;
    QString line = lines.at(n - 1);
    if (line.endsWith(QLatin1Char('\r')))
        line.chop(1);
    return line;
}

} // namespace zantrel
