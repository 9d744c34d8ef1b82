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

// A named instance works in a folder of its own, named after it, inside the folder it was started in
// (the pictures folder with --pictures-folder): so two instances never write the same working file or
// archive copy. Made if missing and made the current folder; false with the reason otherwise.
bool EnterInstanceWorkFolder(const QString& instance, QString& failure);

} // namespace zantrel
