#pragma once

#include <QByteArray>
#include <QString>
#include <utility>
#include <vector>

namespace zantrel {

// Metrics written in Prometheus' text exposition format (version 0.0.4): each family's HELP and TYPE
// lines, then its samples. Label values are escaped (backslash, double quote, line feed); help texts
// too (backslash, line feed). Names are the caller's and must be valid metric and label names.
class Exposition {
  public:
    using Labels = std::vector<std::pair<const char*, QString>>;

    // common: labels put on every sample (before each sample's own).
    explicit Exposition(Labels common = {}) : common_(std::move(common)) {}

    // type: "counter", "gauge" or "histogram".
    void family(const char* name, const char* type, const char* help);
    void sample(const char* name, const Labels& labels, double value);
    // A histogram's samples: one bucket per upper bound in bounds (ascending) with the count of values at
    // or under it, then +Inf, _sum and _count. counts[i]: the values in (bounds[i-1], bounds[i]];
    // counts has one more entry than bounds, for the values above the last.
    void histogram(const char* name, const Labels& labels, const std::vector<double>& bounds,
                   const std::vector<quint64>& counts, double sum);

    const QByteArray& text() const { return text_; }

    // value with backslash, double quote and line feed escaped, as a label value between quotes.
    static QByteArray escapeLabelValue(const QString& value);

  private:
    void line(const QByteArray& name, const Labels& labels, const QByteArray& extraLabel, double value);

    Labels common_;
    QByteArray text_;
};

} // namespace zantrel
