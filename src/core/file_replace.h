#pragma once

#include <QByteArrayView>
#include <QString>

namespace zantrel {

struct ReplaceResult {
    bool replaced = false;
    // Set when the target was refused before anything was written, saying why.
    QString refusal;
};

// Puts `data` in place of `file` in one step: writes a temporary file (owner-only while it is written)
// next to it, then renames that over the target, so readers see either the old or the new contents,
// never a part. The result has the mode of the file it replaces, or 0666 less the umask when new.
// Refused, and nothing touched: a target that is not a regular file (a folder, FIFO, device, socket),
// and a symbolic link owned by someone other than this program's user or root, which someone else may
// have planted in a shared folder. Links that pass are followed. On failure the target is untouched and
// the temporary file is gone. The data is handed to the system but not forced to the disk: the rename
// is what keeps the file whole.
ReplaceResult ReplaceFileContents(const QString& file, QByteArrayView data);

// Writes `data` over `file` where it stands, truncating it first: a reader may see a part. The same
// links are followed and refused as above; the file keeps its mode, or gets 0666 less the umask when new.
ReplaceResult WriteFileContents(const QString& file, QByteArrayView data);

} // namespace zantrel
