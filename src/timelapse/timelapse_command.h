#pragma once

#include <QDate>
#include <QString>
#include <QStringList>

namespace zantrel {

// What `--timelapse DDMMYYYY[-DDMMYYYY] [--fps N] [--width W] [--output FILE]` asks for. Frame rate and
// width default to the TIMELAPSE settings; the output to DDMMYYYY.mp4 (or DDMMYYYY-DDMMYYYY.mp4) in the
// current folder.
struct TimelapseCommand {
    QDate first, last;
    int fps = 25;
    int width = 1920;
    QString output;
    QString error; // set when the arguments make no sense
};

// args: the words after the program's name, "--timelapse" first.
TimelapseCommand ParseTimelapseCommand(const QStringList& args);

// Runs the command: writes the video of the archive copies (IMAGE/PATH) of those days, with progress on
// standard error when that is a terminal. 0 when the video was written; 1 with a message otherwise
// (no pictures, the output cannot be written, bad arguments). Ctrl-C cancels and leaves no file.
int RunTimelapseCommand(const QStringList& args);

} // namespace zantrel
