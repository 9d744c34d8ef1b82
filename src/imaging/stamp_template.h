#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace zantrel {

// The most characters a stamp text keeps after expansion; whatever is longer could not fit any picture.
inline constexpr qsizetype kMaxStampTextChars = 2000;

// What a template's codes stand for at one moment. `value` answers a live value code ("file", "json" or
// "url" with what follows the colon) with its text; with no answer the code prints as "--".
struct StampTemplateContext {
    QDateTime now; // local time
    QLocale locale = QLocale::system();
    QString host, instance;
    std::optional<double> latitude, longitude;
    std::function<std::optional<QString>(const QString& kind, const QString& argument)> value;
};

// The text of a template: "%Y %m %d %H %M %S %a %A %b %B %j %Z" (and "%%") for the moment in the
// locale; "{sunrise}", "{sunset}" (hh:mm, "--" without a place or on a day without one), "{instance}",
// "{host}", "{file:...}", "{json:...}", "{url:...}"; the two characters "\n" start a new line. Any other
// code prints as it stands. The result is cut at kMaxStampTextChars.
QString ExpandStampTemplate(const QString& text, const StampTemplateContext& context);

// The lines of an expanded template, each without its control characters.
QStringList StampTemplateLines(const QString& expanded);

// "PATH#N" → the path and the line number (1 without "#N"); "PATH#/pointer" → the path and the pointer.
struct StampValueAddress {
    QString path;
    int line = 1;
    QString pointer;
};
StampValueAddress ParseStampValueAddress(const QString& argument, bool json);

// The value at an RFC 6901 pointer in a JSON document, as text (numbers as written, strings bare,
// true/false/null as words, objects and arrays compact); nothing when the text does not parse or the
// pointer finds nothing.
std::optional<QString> JsonPointerValue(const QByteArray& document, const QString& pointer);

// The n-th line (from 1) of a text, without its line end; nothing when the text has fewer lines or holds
// anything but text (a NUL byte or invalid UTF-8).
std::optional<QString> TextLine(const QByteArray& text, int n);

} // namespace zantrel
