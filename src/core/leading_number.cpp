#include "core/leading_number.h"

#include <QString>
#include <cfenv>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <system_error>

namespace zantrel {

namespace {

bool isSkipped(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\n';
}

int hexValue(QChar c) {
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

bool isDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

double readHex(const QString& s, qsizetype i) {
    // Up to eight digits form a 32-bit pattern; longer runs keep their full (positive) value so the
    // integer readers see an overflow instead of a silently truncated number.
    double value = 0;
    int digits = 0;
    for (; i < s.size(); ++i) {
        const int d = hexValue(s[i]);
        if (d < 0)
            break;
        value = value * 16 + d;
        ++digits;
    }
    if (digits > 0 && digits <= 8 && value >= 2147483648.0)
        value -= 4294967296.0;
    return value;
}

double readDecimal(const QString& s) {
    std::string text;
    qsizetype i = 0;
    if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) {
        if (s[i] == u'-')
            text += '-';
        ++i;
    }
    bool mantissa = false;
    while (i < s.size() && isDigit(s[i])) {
        text += char(s[i++].unicode());
        mantissa = true;
    }
    if (i < s.size() && s[i] == u'.') {
        text += '.';
        ++i;
        while (i < s.size() && isDigit(s[i])) {
            text += char(s[i++].unicode());
            mantissa = true;
        }
    }
    if (!mantissa)
        return 0;
    if (i < s.size() && (s[i] == u'E' || s[i] == u'e' || s[i] == u'D' || s[i] == u'd')) {
        qsizetype j = i + 1;
        std::string exponent = "e";
        if (j < s.size() && (s[j] == u'+' || s[j] == u'-'))
            exponent += char(s[j++].unicode());
        bool expDigits = false;
        while (j < s.size() && isDigit(s[j])) {
            exponent += char(s[j++].unicode());
            expDigits = true;
        }
        if (expDigits)
            text += exponent;
    }
    // from_chars ignores the locale, so "." is the decimal point whatever the user's settings say.
    double value = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    (void)ptr;
    if (ec == std::errc::result_out_of_range) {
        // Either far too large (an overflow for every reader) or far too small (zero).
        const auto ePos = text.find('e');
        const bool tiny = ePos != std::string::npos && text.size() > ePos + 1 && text[ePos + 1] == '-';
        const bool negative = text[0] == '-';
        value = tiny ? 0.0 : std::numeric_limits<double>::infinity();
        if (negative)
            value = -value;
    }
    return value;
}

template <typename Int> std::optional<Int> toInt(double value) {
    if (std::isnan(value))
        return std::nullopt;
    const int saved = std::fegetround();
    std::fesetround(FE_TONEAREST);
    const double rounded = std::nearbyint(value);
    std::fesetround(saved);
    if (rounded < double(std::numeric_limits<Int>::min()) ||
        rounded > double(std::numeric_limits<Int>::max()))
        return std::nullopt;
    return static_cast<Int>(rounded);
}

} // namespace

double LeadingNumber(QStringView text) {
    QString s;
    s.reserve(text.size());
    for (QChar c : text)
        if (!isSkipped(c))
            s += c;
    if (s.size() >= 2 && s[0] == u'&' && (s[1] == u'H' || s[1] == u'h'))
        return readHex(s, 2);
    return readDecimal(s);
}

std::optional<std::int16_t> ToInt16(double value) {
    return toInt<std::int16_t>(value);
}
std::optional<std::int32_t> ToInt32(double value) {
    return toInt<std::int32_t>(value);
}

} // namespace zantrel
