#include "shell/browse_for_folder.h"

#include <QDir>
#include <QFileDialog>

namespace zantrel {

namespace {

FolderChooser& chooserSlot() {
    static FolderChooser chooser;
    return chooser;
}

QString platformChooser(QWidget* owner, const QString& title) {
    return QFileDialog::getExistingDirectory(owner, title, QString(),
                                             QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
}

} // namespace

QString BrowseForFolder(QWidget* owner) {
    static const QString title =
        QStringLiteral("Click On a directory and it's path will be saved image files.");
    const FolderChooser& chooser = chooserSlot();
    QString folder = chooser ? chooser(owner, title) : platformChooser(owner, title);
    if (folder.isEmpty())
        return kBrowseCancelled;
    folder = QDir::fromNativeSeparators(folder);
    while (folder.endsWith(QLatin1Char('/')))
        folder.chop(1);
    return folder + QLatin1Char('/');
}

FolderChooser SetFolderChooser(FolderChooser chooser) {
    return std::exchange(chooserSlot(), std::move(chooser));
}

} // namespace zantrel
