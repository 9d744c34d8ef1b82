#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>
#include <memory>
#include <vector>

namespace zantrel {

class MessageSink;
class cDIBSection;

// Encodes the image (its bottom-up rows as they are) at quality 0 … 100 and puts the result in place
// of `file` in one step: the JPEG goes to a temporary file in the same folder, which then replaces the
// target. On any failure the user is told through `messages`, an existing file stays as it was and no
// temporary file is left; a target that is no regular file, or a link of another user, is refused
// (see ReplaceFileContents). True when the file was written; `written`, when given, then receives the
// bytes the file now holds. Safe on any thread.
bool WriteJpegFile(const cDIBSection& image, const QString& file, int quality, MessageSink& messages,
                   QByteArray* written = nullptr);

// The image encoded as the writer encodes it (bottom-up rows as they are, quality clamped to 0 … 100);
// empty when the encoder refused it. Safe on any thread.
QByteArray EncodeJpeg(const cDIBSection& image, int quality);

// Encodes pictures one after another with one encoder and one output buffer kept between them, for a
// stream of frames. One thread at a time.
class FrameJpegEncoder {
  public:
    FrameJpegEncoder();
    ~FrameJpegEncoder();
    FrameJpegEncoder(const FrameJpegEncoder&) = delete;
    FrameJpegEncoder& operator=(const FrameJpegEncoder&) = delete;

    // The picture straight from its pixels, the same bytes EncodeJpeg gives for its copy in an image;
    // empty when the encoder refused it.
    QByteArray encode(const QImage& picture, int quality);

  private:
    std::unique_ptr<void, int (*)(void*)> encoder_;
    std::vector<unsigned char> out_;
};

// Writes what is drawn on the surface to `file` as a JPEG, telling the user when that failed. True when
// the file was written; `written`, when given, then receives the bytes the file now holds. Safe on any
// thread.
bool SavePictureAsJpeg(const QImage& surface, const QString& file, int quality, MessageSink& messages,
                       QByteArray* written = nullptr);

} // namespace zantrel
