#include "core/command_line.h"

#include "core/instance.h"

#include <algorithm>
#include <array>

namespace zantrel {

namespace {

struct Mode {
    const char* name;
    RunMode mode;
};
constexpr std::array kModes{Mode{"--once", RunMode::Once}, Mode{"--headless", RunMode::Headless},
                            Mode{"--status", RunMode::Status}, Mode{"/BOOT", RunMode::Boot}};
constexpr std::array kTimelapseOptions{"--fps", "--width", "--output"};

QString modeName(RunMode mode) {
    if (mode == RunMode::Timelapse)
        return QStringLiteral("--timelapse");
    for (const Mode& m : kModes)
        if (m.mode == mode)
            return QLatin1String(m.name);
    return {};
}

} // namespace

CommandLine ParseCommandLine(const QStringList& args) {
    CommandLine c;
    QStringList timelapseOptions;
    QString firstTimelapseOption;
    const auto setMode = [&c](RunMode mode) {
        if (c.mode != RunMode::Window && c.mode != mode)
            c.error =
                QStringLiteral("%1 and %2 cannot be used together").arg(modeName(c.mode), modeName(mode));
        c.mode = mode;
        return c.error.isEmpty();
    };
    for (int i = 0; i < args.size(); ++i) {
        const QString& word = args[i];
        const qsizetype equals = word.startsWith(QLatin1String("--")) ? word.indexOf(QLatin1Char('=')) : -1;
        const QString name = equals < 0 ? word : word.left(equals);
        // The value of an option that takes one: after "=", or the next word.
        const auto value = [&](QString& out) {
            if (equals >= 0) {
                out = word.mid(equals + 1);
                return true;
            }
            if (i + 1 >= args.size()) {
                c.error = QStringLiteral("option '%1' requires an argument").arg(name);
                return false;
            }
            out = args[++i];
            return true;
        };
        if (name == QLatin1String("--help") || name == QLatin1String("-h") ||
            name == QLatin1String("--version") || name == QLatin1String("-V")) {
            CommandLine only; // what follows does not count
            if (equals >= 0)
                only.error = QStringLiteral("option '%1' doesn't allow an argument").arg(name);
            const bool help = name == QLatin1String("--help") || name == QLatin1String("-h");
            only.mode = help ? RunMode::Help : RunMode::Version;
            return only;
        }
        if (word == QLatin1String("--")) { // the end of the options: nothing may follow
            if (i + 1 < args.size())
                c.error = QStringLiteral("unexpected argument '%1'").arg(args[i + 1]);
            break;
        }
        const bool flag = name == QLatin1String("--pictures-folder");
        if (flag && equals < 0) {
            c.picturesFolder = true;
            continue;
        }
        if (name == QLatin1String("--instance")) {
            if (!value(c.instance))
                return c;
            c.error = InstanceNameRefusal(c.instance);
            if (!c.error.isEmpty())
                return c;
            continue;
        }
        if (name == QLatin1String("--timelapse")) {
            QString days;
            if (!value(days) || !setMode(RunMode::Timelapse))
                return c;
            c.timelapse = {name, days};
            continue;
        }
        if (std::find(kTimelapseOptions.begin(), kTimelapseOptions.end(), name) != kTimelapseOptions.end()) {
            QString v;
            if (!value(v))
                return c;
            timelapseOptions << name << v;
            if (firstTimelapseOption.isEmpty())
                firstTimelapseOption = name;
            continue;
        }
        const auto mode = std::find_if(kModes.begin(), kModes.end(),
                                       [&name](const Mode& m) { return name == QLatin1String(m.name); });
        if (mode != kModes.end() || flag) {
            if (equals >= 0) {
                c.error = QStringLiteral("option '%1' doesn't allow an argument").arg(name);
                return c;
            }
            if (!setMode(mode->mode))
                return c;
            continue;
        }
        // The start-up entry's argument counts only as written; in another case it is no argument at all.
        if (word.compare(QLatin1String("/BOOT"), Qt::CaseInsensitive) == 0)
            continue;
        if (word.startsWith(QLatin1Char('-')) && word.size() > 1)
            c.error = word.startsWith(QLatin1String("--"))
                          ? QStringLiteral("unrecognized option '%1'").arg(word)
                          : QStringLiteral("invalid option -- '%1'").arg(word.mid(1));
        else
            c.error = QStringLiteral("unexpected argument '%1'").arg(word);
        return c;
    }
    if (c.error.isEmpty() && !firstTimelapseOption.isEmpty() && c.mode != RunMode::Timelapse)
        c.error = QStringLiteral("option '%1' is only for --timelapse").arg(firstTimelapseOption);
    c.timelapse << timelapseOptions;
    return c;
}

QString UsageText(const QString& settingsPath, long long onceSeconds) {
    return QStringLiteral("Usage: webcam-zantrel [OPTION]...\n"
                          "Shows the live camera picture and publishes stamped JPEG images on a schedule;\n"
                          "without an option it opens its window.\n"
                          "\n"
                          "      --once             publish one image with the stored settings and exit\n"
                          "      --headless         publish on the stored schedule without a window\n"
                          "      --status           print the running instances' state and exit\n"
                          "      --timelapse DAYS   make a video of the archived pictures of DAYS and exit\n"
                          "      --fps N            with --timelapse: frames per second of the video\n"
                          "      --width W          with --timelapse: the video's largest width in pixels\n"
                          "      --output FILE      with --timelapse: the video file (default DAYS.mp4)\n"
                          "      --pictures-folder  work in the pictures folder, not the current one\n"
                          "      --instance NAME    run as instance NAME: settings and files of its own\n"
                          "      /BOOT              at session start: runs only if PREF/WINDOWSSTART is 1\n"
                          "  -h, --help             show this help and exit\n"
                          "  -V, --version          show the version and exit\n"
                          "\n"
                          "DAYS is one day, DDMMYYYY, or a range, DDMMYYYY-DDMMYYYY.\n"
                          "Exit status: 0 when all went well, 1 on a failure, 2 on a wrong command line;\n"
                          "--status: 0 all well, 1 an alert is under way, 2 no instance runs.\n"
                          "NAME: letters, digits, '-' and '_', at most 32; it works in a folder NAME.\n"
                          "--once gives up after %2 seconds, the sum of its transfer limits.\n"
                          "Settings: %1\n"
                          "Manual: man webcam-zantrel\n")
        .arg(settingsPath)
        .arg(onceSeconds);
}

} // namespace zantrel
