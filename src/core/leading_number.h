#pragma once

#include <QStringView>
#include <cstdint>
#include <optional>

namespace zantrel {

// The one rule by which stored text is read as a number: blanks, tabs and line feeds are skipped
// anywhere; "&H…" (optionally ending in "&") is hexadecimal, eight digits being a 32-bit two's
// complement value; otherwise sign, digits, "." and fraction, exponent with E or D. Reading stops at the
// first character that does not fit; no number at all reads as 0. The result may be ±infinity for
// exponents beyond double range ("1e400"); the integer conversions report that as an overflow.
double LeadingNumber(QStringView text);

// Nearest integer, a half going to the even neighbour; nullopt when the result does not fit.
std::optional<std::int16_t> ToInt16(double value);
std::optional<std::int32_t> ToInt32(double value);

} // namespace zantrel
