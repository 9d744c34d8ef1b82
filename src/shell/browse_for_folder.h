#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace zantrel {

// What BrowseForFolder returns when the user cancels; no real folder can be named so.
inline const QString kBrowseCancelled = QStringLiteral("!CANCEL!");

// Asks for a folder with its owner and title; an empty result means cancelled. The platform's folder
// dialog unless a test puts its own in place.
using FolderChooser = std::function<QString(QWidget* owner, const QString& title)>;

// Asks the user for a folder and returns it with exactly one trailing "/" (the root is "/"), or
// kBrowseCancelled.
QString BrowseForFolder(QWidget* owner);

// Replaces the folder dialog (an empty chooser puts the platform's back); returns the one it replaced.
FolderChooser SetFolderChooser(FolderChooser chooser);

} // namespace zantrel
