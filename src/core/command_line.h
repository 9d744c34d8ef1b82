#pragma once

#include <QString>
#include <QStringList>

namespace zantrel {

// What the program was asked to do, read from its arguments before anything else starts (no
// application object, no window, no camera).
enum class RunMode { Window, Boot, Once, Headless, Status, Timelapse, Help, Version };

struct CommandLine {
    RunMode mode = RunMode::Window;
    // --pictures-folder: work in the user's pictures folder rather than the current one.
    bool picturesFolder = false;
    // --instance NAME: the named instance's settings and files; "" for the default instance.
    QString instance;
    // For RunMode::Timelapse: "--timelapse", the days and the timelapse options with their values.
    QStringList timelapse;
    // A usage error ("unrecognized option '--bogus'"): said with a hint to --help, exit status 2.
    QString error;
};

// GNU style: long options, "--name=value" or "--name value" for those that take a value, -h and -V.
// --help and --version win over whatever follows them; an option not known, a value missing or two
// modes at once is an error.
CommandLine ParseCommandLine(const QStringList& argumentsAfterPath);

// The --help text, every option on a line of its own; settingsPath is the settings file shown at the end,
// onceSeconds how long --once runs at the most.
QString UsageText(const QString& settingsPath, long long onceSeconds);

inline constexpr int kUsageExitStatus = 2;

} // namespace zantrel
