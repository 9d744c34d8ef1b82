#include "shell/close_application.h"

#include <QApplication>
#include <QPointer>
#include <QWidget>

namespace zantrel {

QStringList CloseOrder() {
    return {QStringLiteral("frmAbout"),    QStringLiteral("frmAllSettings"), QStringLiteral("frmMenu"),
            QStringLiteral("frmPassword"), QStringLiteral("frmPreview"),     QStringLiteral("Gallery"),
            QStringLiteral("ImageView"),   QStringLiteral("Master"),         QStringLiteral("Splash")};
}

void CloseApplication() {
    static bool closing = false;
    if (closing)
        return;
    closing = true;
    for (const QString& name : CloseOrder()) {
        // Closing one window may delete others: hold guarded pointers, not the list itself.
        QList<QPointer<QWidget>> windows;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == name)
                windows.append(w);
        for (const QPointer<QWidget>& w : windows)
            if (w)
                w->close();
    }
    closing = false;
    // Queued, so it also ends the main loop when a modal window's loop is running at the time.
    QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

} // namespace zantrel
