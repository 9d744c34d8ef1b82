#pragma once

#include <QString>
#include <vector>

namespace zantrel {

// One way a camera can deliver pictures: size, pixel format and frame rate.
struct VideoFormat {
    QString mediaType = QStringLiteral("video/x-raw"); // or image/jpeg, …
    QString pixelFormat;                               // YUY2, RGB, …; empty for compressed types
    int width = 0;
    int height = 0;
    int rateNumerator = 0; // 0/1: whatever the camera chooses
    int rateDenominator = 1;

    // "640 × 480  YUY2  30 fps" as the format list shows it.
    QString label() const;
    // The format as a GStreamer caps text, which is also how it is remembered in the settings.
    QString capsText() const;
    friend bool operator==(const VideoFormat&, const VideoFormat&) = default;
};

// An adjustable picture control of the camera (brightness, contrast, gain, …).
struct SourceControl {
    QString name;
    int minimum = 0;
    int maximum = 0;
    int value = 0;
};

} // namespace zantrel
