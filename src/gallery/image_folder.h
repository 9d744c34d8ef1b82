#pragma once

#include <QString>
#include <cstdint>
#include <vector>

namespace zantrel {

// One picture of the archive folder as the gallery lists it.
struct ImageFile {
    QString name;           // file name without folder
    std::int64_t mtime = 0; // last modification, seconds since the epoch
    std::int64_t size = 0;  // bytes
};

// The files of `folder` whose names end in .bmp, .jpg or .jpeg (in any case), sorted ascending by
// name. Folders and other non-regular files are left out; a missing folder lists nothing. Reads the
// folder once with readdir/fstatat, so it is quick on folders of a hundred thousand files; call it off
// the user-interface thread all the same.
std::vector<ImageFile> ListImageFolder(const QString& folder);

// "<folder>/<name>" with exactly one slash between the two.
QString JoinPath(const QString& folder, const QString& name);

} // namespace zantrel
