#pragma once

#include <QString>

namespace zantrel {

// The folder the menu entry, the start-up entry and the service run the program in: "Webcam Zantrel"
// in the user's pictures folder (XDG_PICTURES_DIR, from the environment or user-dirs.dirs; ~/Pictures
// without one), so that the working file and the archive (the current folder by default) land in a
// folder meant for pictures rather than in the home folder.
QString PicturesWorkFolder();

// Makes that folder if it is missing and makes it the current folder; false with the reason otherwise.
bool EnterPicturesWorkFolder(QString& failure);

} // namespace zantrel
