#include "health/desktop_notice.h"

#include "core/version.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace zantrel {

void ShowDesktopNotice(const QString& summary, const QString& body, bool warning, QObject* context,
                       std::function<void(const QString& error)> done) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        if (done)
            done(QStringLiteral("No desktop session bus: ") + bus.lastError().message());
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    const QVariantMap hints{{QStringLiteral("urgency"), QVariant::fromValue<uchar>(warning ? 2 : 1)},
                            {QStringLiteral("desktop-entry"), QString::fromLatin1(kDesktopEntry)}};
    call << applicationTitle() << 0u
         << (warning ? QStringLiteral("dialog-warning") : QStringLiteral("dialog-information")) << summary
         << body << QStringList() << hints << -1;
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context,
                     [done = std::move(done)](QDBusPendingCallWatcher* w) {
                         w->deleteLater();
                         if (!done)
                             return;
                         const QDBusPendingReply<uint> reply = *w;
                         done(reply.isError() ? QStringLiteral("No notification server answered: ") +
                                                    reply.error().message()
                                              : QString());
                     });
}

} // namespace zantrel
