#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

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

// Writes what is drawn on the surface to `file` as a JPEG, telling the user when that failed. True when
// the file was written; `written`, when given, then receives the bytes the file now holds. Safe on any
// thread.
bool SavePictureAsJpeg(const QImage& surface, const QString& file, int quality, MessageSink& messages,
                       QByteArray* written = nullptr);

} // namespace zantrel
