#pragma once

#include <QByteArrayView>
#include <QString>

namespace zantrel {

// Puts `data` in place of `file` in one step: writes a temporary file next to it, then renames that over
// the target, so readers see either the old or the new contents, never a part. A new file gets the
// usual permissions (0666 less the umask), a replaced one keeps its own; a symbolic link is followed.
// On failure the target is untouched and the temporary file is gone. The data is handed to the system
// but not forced to the disk: the rename is what keeps the file whole.
bool ReplaceFileContents(const QString& file, QByteArrayView data);

} // namespace zantrel
