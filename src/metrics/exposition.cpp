#include "metrics/exposition.h"

#include <QLocale>
#include <cmath>

namespace zantrel {

namespace {

QByteArray number(double value) {
    if (std::isnan(value))
        return "NaN";
    if (std::isinf(value))
        return value > 0 ? "+Inf" : "-Inf";
    // Whole numbers (counts, bytes, seconds since 1970) as such, without an exponent.
    if (value == std::floor(value) && std::fabs(value) < 1e15)
        return QByteArray::number(static_cast<qint64>(value));
    return QByteArray::number(value, 'g', QLocale::FloatingPointShortest);
}

} // namespace

QByteArray Exposition::escapeLabelValue(const QString& value) {
    QByteArray out;
    for (const char c : value.toUtf8()) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '"')
            out += "\\\"";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

void Exposition::family(const char* name, const char* type, const char* help) {
    QByteArray text(help);
    text.replace('\\', "\\\\").replace('\n', "\\n");
    text_ += "# HELP " + QByteArray(name) + ' ' + text + '\n';
    text_ += "# TYPE " + QByteArray(name) + ' ' + type + '\n';
}

void Exposition::line(const QByteArray& name, const Labels& labels, const QByteArray& extraLabel,
                      double value) {
    text_ += name;
    QByteArray all;
    for (const Labels* set : {static_cast<const Labels*>(&common_), &labels})
        for (const auto& [label, text] : *set)
            all += (all.isEmpty() ? "" : ",") + QByteArray(label) + "=\"" + escapeLabelValue(text) + '"';
    if (!extraLabel.isEmpty())
        all += (all.isEmpty() ? "" : ",") + extraLabel;
    if (!all.isEmpty())
        text_ += '{' + all + '}';
    text_ += ' ' + number(value) + '\n';
}

void Exposition::sample(const char* name, const Labels& labels, double value) {
    line(name, labels, {}, value);
}

void Exposition::histogram(const char* name, const Labels& labels, const std::vector<double>& bounds,
                           const std::vector<quint64>& counts, double sum) {
    const QByteArray base(name);
    quint64 total = 0;
    for (std::size_t i = 0; i <= bounds.size(); ++i) {
        total += i < counts.size() ? counts[i] : 0;
        const QByteArray le = i < bounds.size() ? number(bounds[i]) : QByteArray("+Inf");
        line(base + "_bucket", labels, "le=\"" + le + '"', static_cast<double>(total));
    }
    line(base + "_sum", labels, {}, sum);
    line(base + "_count", labels, {}, static_cast<double>(total));
}

} // namespace zantrel
