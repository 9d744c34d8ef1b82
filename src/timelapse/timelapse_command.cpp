#include "timelapse/timelapse_command.h"

#include "core/setting_keys.h"
#include "core/store.h"
#include "timelapse/timelapse_encoder.h"

#include <QDir>
#include <QElapsedTimer>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace zantrel {

namespace {

std::atomic<bool> interrupted{false};

void onInterrupt(int) {
    interrupted = true;
}

QDate dayOf(const QString& text) {
    return text.size() == 8 ? QDate::fromString(text, QStringLiteral("ddMMyyyy")) : QDate();
}

QString clockText(qint64 seconds) {
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

TimelapseCommand ParseTimelapseCommand(const QStringList& args) {
    TimelapseCommand c;
    c.fps = ReadInt32(keys::TimelapseFps);
    c.width = ReadInt32(keys::TimelapseWidth);
    if (args.size() < 2) {
        c.error = QStringLiteral("--timelapse needs a day, DDMMYYYY or DDMMYYYY-DDMMYYYY");
        return c;
    }
    const QString days = args[1];
    const QStringList range = days.split(QLatin1Char('-'));
    c.first = dayOf(range.value(0));
    c.last = range.size() == 2 ? dayOf(range[1]) : range.size() == 1 ? c.first : QDate();
    if (!c.first.isValid() || !c.last.isValid() || c.last < c.first) {
        c.error =
            QStringLiteral("Not a day or a range of days (DDMMYYYY or DDMMYYYY-DDMMYYYY): %1").arg(days);
        return c;
    }
    c.output = days + QStringLiteral(".mp4");
    for (int i = 2; i < args.size(); i += 2) {
        const QString& option = args[i];
        if (i + 1 >= args.size()) {
            c.error = QStringLiteral("%1 needs a value").arg(option);
            return c;
        }
        const QString& value = args[i + 1];
        bool ok = false;
        if (option == QLatin1String("--fps")) {
            c.fps = value.toInt(&ok);
            ok = ok && c.fps >= 1 && c.fps <= 240;
        } else if (option == QLatin1String("--width")) {
            c.width = value.toInt(&ok);
            ok = ok && c.width >= 2;
        } else if (option == QLatin1String("--output")) {
            c.output = value;
            ok = !value.isEmpty();
        } else {
            c.error = QStringLiteral("Unknown option: %1").arg(option);
            return c;
        }
        if (!ok) {
            c.error = QStringLiteral("Not a valid value for %1: %2").arg(option, value);
            return c;
        }
    }
    return c;
}

int RunTimelapseCommand(const QStringList& args) {
    const TimelapseCommand c = ParseTimelapseCommand(args);
    if (!c.error.isEmpty()) {
        std::fprintf(stderr, "webcam-zantrel: %s\n", qPrintable(c.error));
        return 1;
    }
    TimelapseRequest request;
    const QString folder = GetSetting(keys::ImagePath, QDir::currentPath());
    request.pictures = ArchivePicturesOfDays(folder, c.first, c.last);
    request.output = c.output;
    request.fps = c.fps;
    request.maxWidth = c.width;

    const bool terminal = isatty(STDERR_FILENO);
    QElapsedTimer clock;
    clock.start();
    const auto progress = [&](const TimelapseProgress& p) {
        if (!terminal)
            return;
        const qint64 left = clock.elapsed() * (p.total - p.done) / std::max(1, p.done) / 1000;
        std::fprintf(stderr, "\rFrame %d of %d, %s left ", p.done, p.total, qPrintable(clockText(left)));
    };
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
    const TimelapseResult r = EncodeTimelapse(request, progress, [] { return interrupted.load(); });
    if (terminal && !request.pictures.isEmpty())
        std::fprintf(stderr, "\n");
    switch (r.outcome) {
    case TimelapseResult::Outcome::Written:
        std::printf("%s: %d frames, %dx%d, %d fps, %d pictures skipped\n", qPrintable(request.output),
                    r.frames, r.size.width(), r.size.height(), request.fps, r.skipped);
        if (r.skipped)
            std::fprintf(stderr, "webcam-zantrel: skipped %s\n", qPrintable(r.firstSkipped));
        return 0;
    case TimelapseResult::Outcome::NoPictures:
        std::fprintf(stderr, "webcam-zantrel: %s in %s for %s\n", qPrintable(r.error),
                     qPrintable(QDir::toNativeSeparators(folder)), qPrintable(args.value(1)));
        return 1;
    case TimelapseResult::Outcome::Cancelled:
        std::fprintf(stderr, "webcam-zantrel: cancelled; no video was written\n");
        return 1;
    case TimelapseResult::Outcome::Failed:
        break;
    }
    std::fprintf(stderr, "webcam-zantrel: %s\n", qPrintable(r.error));
    return 1;
}

} // namespace zantrel
