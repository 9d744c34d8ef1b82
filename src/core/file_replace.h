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
// the temporary file is gone. The data reaches the disk before the rename and the folder's new entry
// after it, so a power cut leaves the old contents or the new ones under the name.
ReplaceResult ReplaceFileContents(const QString& file, QByteArrayView data);

// Forces a file's data to the disk; false when it cannot be opened or synced.
bool SyncFileToDisk(const QString& file);
// Forces the entries of the folder a file is in to the disk (a rename into it, a new name).
void SyncFolderOf(const QString& file);

// Writes `data` over `file` where it stands, truncating it first: a reader may see a part. The same
// links are followed and refused as above; the file keeps its mode, or gets 0666 less the umask when new.
ReplaceResult WriteFileContents(const QString& file, QByteArrayView data);

} // namespace zantrel
