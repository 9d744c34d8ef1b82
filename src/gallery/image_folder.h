#pragma once

#include <QString>
#include <cstdint>
#include <vector>

namespace zantrel {

// One picture of the archive folder as the gallery lists it.
struct ImageFile {
    QString name;              // file name without folder
    std::int64_t mtime = 0;    // last modification, seconds since the epoch
    std::int64_t size = 0;     // bytes
    std::int64_t nameTime = 0; // an archive copy's date and time from its name, as YYYYMMDDhhmmss; else 0
};

// The gallery's order: archive copies by the date and time in their names, oldest or newest first,
// then every other file by name.
enum class ImageOrder { OldestFirst, NewestFirst };

// The files of `folder` whose names end in .bmp, .jpg or .jpeg (in any case), in the given order.
// Folders and other non-regular files are left out; a missing folder lists nothing. Reads the folder
// once with readdir/fstatat, so it is quick on folders of a hundred thousand files; call it off the
// user-interface thread all the same.
std::vector<ImageFile> ListImageFolder(const QString& folder, ImageOrder order = ImageOrder::OldestFirst);

// "<folder>/<name>" with exactly one slash between the two.
QString JoinPath(const QString& folder, const QString& name);

} // namespace zantrel
