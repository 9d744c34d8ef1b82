#include "capture/video_formats_p.h"

#include <algorithm>
#include <array>
#include <utility>

namespace zantrel {

namespace {

constexpr std::size_t kMostFormats = 400;

constexpr std::array<std::pair<int, int>, 9> kCommonSizes{{{160, 120},
                                                           {320, 240},
                                                           {352, 288},
                                                           {640, 360},
                                                           {640, 480},
                                                           {800, 600},
                                                           {1024, 768},
                                                           {1280, 720},
                                                           {1920, 1080}}};
constexpr std::array<int, 6> kCommonRates{5, 10, 15, 24, 25, 30};

std::vector<QString> stringValues(const GValue* value) {
    std::vector<QString> out;
    if (!value)
        return out;
    if (G_VALUE_HOLDS_STRING(value))
        out.push_back(gst::toQString(g_value_get_string(value)));
    else if (GST_VALUE_HOLDS_LIST(value)) {
        for (guint i = 0; i < gst_value_list_get_size(value); ++i) {
            const GValue* item = gst_value_list_get_value(value, i);
            if (G_VALUE_HOLDS_STRING(item))
                out.push_back(gst::toQString(g_value_get_string(item)));
        }
    }
    return out;
}

std::vector<int> intValues(const GValue* value) {
    std::vector<int> out;
    if (!value)
        return out;
    if (G_VALUE_HOLDS_INT(value))
        out.push_back(g_value_get_int(value));
    else if (GST_VALUE_HOLDS_LIST(value)) {
        for (guint i = 0; i < gst_value_list_get_size(value); ++i) {
            const GValue* item = gst_value_list_get_value(value, i);
            if (G_VALUE_HOLDS_INT(item))
                out.push_back(g_value_get_int(item));
        }
    }
    return out;
}

// Sizes: fixed values and lists as they are, ranges as the common sizes that fit.
std::vector<std::pair<int, int>> sizes(const GstStructure* s) {
    const GValue* w = gst_structure_get_value(s, "width");
    const GValue* h = gst_structure_get_value(s, "height");
    std::vector<std::pair<int, int>> out;
    if (w && h && GST_VALUE_HOLDS_INT_RANGE(w) && GST_VALUE_HOLDS_INT_RANGE(h)) {
        const int wMin = gst_value_get_int_range_min(w), wMax = gst_value_get_int_range_max(w);
        const int hMin = gst_value_get_int_range_min(h), hMax = gst_value_get_int_range_max(h);
        for (const auto& [cw, ch] : kCommonSizes) {
            if (cw >= wMin && cw <= wMax && ch >= hMin && ch <= hMax)
                out.emplace_back(cw, ch);
        }
        return out;
    }
    for (int cw : intValues(w)) {
        for (int ch : intValues(h))
            out.emplace_back(cw, ch);
    }
    return out;
}

std::vector<std::pair<int, int>> rates(const GstStructure* s) {
    const GValue* value = gst_structure_get_value(s, "framerate");
    std::vector<std::pair<int, int>> out;
    auto addFraction = [&out](const GValue* v) {
        if (GST_VALUE_HOLDS_FRACTION(v) && gst_value_get_fraction_numerator(v) > 0)
            out.emplace_back(gst_value_get_fraction_numerator(v), gst_value_get_fraction_denominator(v));
    };
    if (!value) {
        out.emplace_back(0, 1);
    } else if (GST_VALUE_HOLDS_FRACTION(value)) {
        addFraction(value);
    } else if (GST_VALUE_HOLDS_LIST(value)) {
        for (guint i = 0; i < gst_value_list_get_size(value); ++i)
            addFraction(gst_value_list_get_value(value, i));
    } else if (GST_VALUE_HOLDS_FRACTION_RANGE(value)) {
        const GValue* lo = gst_value_get_fraction_range_min(value);
        const GValue* hi = gst_value_get_fraction_range_max(value);
        const double min =
            double(gst_value_get_fraction_numerator(lo)) / gst_value_get_fraction_denominator(lo);
        const double max =
            double(gst_value_get_fraction_numerator(hi)) / gst_value_get_fraction_denominator(hi);
        for (int r : kCommonRates) {
            if (r >= min && r <= max)
                out.emplace_back(r, 1);
        }
        if (out.empty() && max > 0 && max < 1000)
            addFraction(hi);
    }
    if (out.empty())
        out.emplace_back(0, 1);
    return out;
}

} // namespace

std::vector<VideoFormat> enumerateFormats(const GstCaps* caps) {
    std::vector<VideoFormat> out;
    if (!caps || gst_caps_is_any(caps))
        return out;
    for (guint i = 0; i < gst_caps_get_size(caps) && out.size() < kMostFormats; ++i) {
        const GstStructure* s = gst_caps_get_structure(caps, i);
        const QString media = gst::toQString(gst_structure_get_name(s));
        if (!media.startsWith(QLatin1String("video/")) && !media.startsWith(QLatin1String("image/")))
            continue;
        std::vector<QString> formats = stringValues(gst_structure_get_value(s, "format"));
        if (formats.empty())
            formats.emplace_back();
        const auto allSizes = sizes(s);
        const auto allRates = rates(s);
        for (const auto& [w, h] : allSizes) {
            for (const QString& pixel : formats) {
                for (const auto& [num, den] : allRates) {
                    VideoFormat f{media, pixel, w, h, num, den};
                    if (std::find(out.begin(), out.end(), f) == out.end() && out.size() < kMostFormats)
                        out.push_back(std::move(f));
                }
            }
        }
    }
    return out;
}

QString VideoFormat::label() const {
    QString text = QStringLiteral("%1 \u00d7 %2  %3")
                       .arg(width)
                       .arg(height)
                       .arg(pixelFormat.isEmpty() ? mediaType : pixelFormat);
    if (rateNumerator > 0) {
        const double fps = double(rateNumerator) / rateDenominator;
        text += QStringLiteral("  %1 fps").arg(fps, 0, 'g', 4);
    }
    return text;
}

QString VideoFormat::capsText() const {
    QString text = mediaType;
    if (!pixelFormat.isEmpty())
        text += QStringLiteral(",format=%1").arg(pixelFormat);
    text += QStringLiteral(",width=%1,height=%2").arg(width).arg(height);
    if (rateNumerator > 0)
        text += QStringLiteral(",framerate=%1/%2").arg(rateNumerator).arg(rateDenominator);
    return text;
}

} // namespace zantrel
