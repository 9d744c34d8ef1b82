#pragma once

#include <QDate>
#include <QSize>
#include <QString>
#include <QStringList>
#include <functional>

namespace zantrel {

// One video made of still pictures, frame after frame at a constant rate.
struct TimelapseRequest {
    QStringList pictures; // JPEG files, in the order they are shown
    QString output;       // the video file; written under a temporary name and renamed at the end
    int fps = 25;
    int maxWidth = 1920; // the video is never wider than this, nor than the first picture
};

struct TimelapseProgress {
    int done = 0;  // pictures handled so far (encoded or skipped)
    int total = 0; // pictures asked for
};

struct TimelapseResult {
    enum class Outcome { Written, NoPictures, Cancelled, Failed };
    Outcome outcome = Outcome::Failed;
    int frames = 0;       // frames in the video
    int skipped = 0;      // pictures that could not be read or decoded
    QString firstSkipped; // the first of them and why, said once however many follow
    QSize size;           // the video's frame size
    QString error;        // why it failed, for the user
};

// The encoder pipeline after the raw frames, as gst-launch-1.0 writes it: H.264 (x264, or OpenH264 where
// x264 is missing) in MP4 with the index at the front. Empty when neither encoder is installed.
QString TimelapseEncoderLaunch();

// The video's frame size for pictures of this size: at most maxWidth wide, never wider than the
// picture, the aspect ratio kept, both sides even (4:2:0 chroma needs them so).
QSize TimelapseFrameSize(QSize picture, int maxWidth);

// Encodes the pictures into the video. Blocks until done: call it from a worker thread, which runs at
// idle priority meanwhile, so publishing goes first. Frames stream one at a time from the files through
// the encoder: memory does not grow with their number. A picture that cannot be decoded (or only in
// part, a file still being written), one that claims more than MaxPicturePixels() and a file that is
// no regular file of this user (ReadOwnPictureFile) are skipped and counted; one of another size is
// scaled to the video's. progress is called on this thread after each picture; cancelled is asked as often.
// On any outcome but Written no file is left behind, and an existing file at output is untouched.
TimelapseResult EncodeTimelapse(const TimelapseRequest& request,
                                const std::function<void(const TimelapseProgress&)>& progress = {},
                                const std::function<bool()>& cancelled = {});

// The archive copies (DDMMYYYYhhmmss.JPG) of folder taken on the days from first to last, oldest first.
QStringList ArchivePicturesOfDays(const QString& folder, const QDate& first, const QDate& last);

} // namespace zantrel
