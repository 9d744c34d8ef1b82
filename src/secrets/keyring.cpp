#include "secrets/keyring.h"

#include "core/store.h"

#include <QUuid>
#include <condition_variable>
#include <libsecret/secret.h>
#include <memory>
#include <mutex>
#include <thread>

namespace zantrel {

namespace {

const SecretSchema* schema() {
    static const SecretSchema s = {"org.zantrel.WebcamZantrel.Password",
                                   SECRET_SCHEMA_NONE,
                                   {{"application", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                    {"id", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                    {"settings", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                    {"setting", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                    {"address", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                    {"login", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                    {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
                                   0,
                                   nullptr,
                                   nullptr,
                                   nullptr,
                                   nullptr,
                                   nullptr,
                                   nullptr,
                                   nullptr};
    return &s;
}
constexpr const char* kApplication = "webcam-zantrel";

// A cancellable that cancels itself when the bound has passed.
class Deadline {
  public:
    explicit Deadline(std::chrono::milliseconds bound) : cancellable_(g_cancellable_new()) {
        watchdog_ = std::thread([this, bound] {
            std::unique_lock lock(mutex_);
            if (!wake_.wait_for(lock, bound, [this] { return done_; }))
                g_cancellable_cancel(cancellable_);
        });
    }
    ~Deadline() {
        {
            const std::lock_guard lock(mutex_);
            done_ = true;
        }
        wake_.notify_all();
        watchdog_.join();
        g_object_unref(cancellable_);
    }
    Deadline(const Deadline&) = delete;
    Deadline& operator=(const Deadline&) = delete;
    GCancellable* get() const { return cancellable_; }
    bool passed() const { return g_cancellable_is_cancelled(cancellable_); }

  private:
    GCancellable* cancellable_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool done_ = false;
    std::thread watchdog_;
};

struct ErrorFree {
    void operator()(GError* e) const { g_error_free(e); }
};
struct ObjectUnref {
    void operator()(gpointer o) const { g_object_unref(o); }
};
struct HashUnref {
    void operator()(GHashTable* t) const { g_hash_table_unref(t); }
};
using Error = std::unique_ptr<GError, ErrorFree>;

QString failure(const Deadline& deadline, const GError* error) {
    if (deadline.passed())
        return QStringLiteral("the keyring did not answer within %1 seconds")
            .arg(kKeyringBound.count() / 1000);
    return error ? QString::fromUtf8(error->message) : QStringLiteral("the keyring refused");
}

std::unique_ptr<SecretService, ObjectUnref> service(const Deadline& deadline, QString& why) {
    GError* raw = nullptr;
    SecretService* s = secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, deadline.get(), &raw);
    const Error error(raw);
    if (!s)
        why = QStringLiteral("no keyring: %1").arg(failure(deadline, error.get()));
    return std::unique_ptr<SecretService, ObjectUnref>(s);
}

QString markerId(const QString& marker) {
    return IsKeyringMarker(marker) ? marker.mid(kKeyringPrefix.size()) : QString();
}

} // namespace

bool IsKeyringMarker(const QString& stored) {
    return stored.startsWith(kKeyringPrefix) && stored.size() > kKeyringPrefix.size();
}

bool KeyringAvailable(QString* why) {
    // Without a session bus there is nothing to ask (and nothing to start one from).
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
        if (why)
            *why = QStringLiteral("no keyring: no session bus");
        return false;
    }
    const Deadline deadline(kKeyringBound);
    QString reason;
    const bool ok = service(deadline, reason) != nullptr;
    if (why)
        *why = reason;
    return ok;
}

KeyringAnswer KeyringStore(const SecretPlace& place, const QString& password) {
    QString why;
    if (!KeyringAvailable(&why))
        return {KeyringAnswer::State::Unavailable, {}, why};
    const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    const QByteArray idText = id.toUtf8(), settings = SettingsStore::instance().path().toUtf8(),
                     setting = (place.section + QLatin1Char('/') + place.key).toUtf8(),
                     address = place.address.toUtf8(), login = place.login.toUtf8();
    const QString shownLogin = place.login.isEmpty() ? QString() : place.login + QLatin1Char('@');
    const QByteArray label = QStringLiteral("Webcam Zantrel (%1): %2%3")
                                 .arg(SettingsStore::instance().path(), shownLogin,
                                      place.address.isEmpty() ? QString::fromUtf8(setting) : place.address)
                                 .toUtf8();
    const QByteArray text = password.toUtf8();
    const Deadline deadline(kKeyringBound);
    GError* raw = nullptr;
    const gboolean stored = secret_password_store_sync(
        schema(), SECRET_COLLECTION_DEFAULT, label.constData(), text.constData(), deadline.get(), &raw,
        "application", kApplication, "id", idText.constData(), "settings", settings.constData(), "setting",
        setting.constData(), "address", address.constData(), "login", login.constData(), nullptr);
    const Error error(raw);
    if (!stored)
        return {
            KeyringAnswer::State::Failed,
            {},
            QStringLiteral("the keyring did not store the password: %1").arg(failure(deadline, error.get()))};
    return {KeyringAnswer::State::Done, kKeyringPrefix + id, {}};
}

bool KeyringForget(const QString& marker) {
    const QString id = markerId(marker);
    if (id.isEmpty() || qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return false;
    const Deadline deadline(kKeyringBound);
    GError* raw = nullptr;
    const gboolean cleared = secret_password_clear_sync(schema(), deadline.get(), &raw, "application",
                                                        kApplication, "id", id.toUtf8().constData(), nullptr);
    const Error error(raw);
    return cleared;
}

KeyringAnswer KeyringLookup(const QString& marker) {
    const QString id = markerId(marker);
    if (id.isEmpty())
        return {KeyringAnswer::State::Missing, {}, QStringLiteral("the keyring marker is damaged")};
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return {KeyringAnswer::State::Unavailable, {}, QStringLiteral("no keyring: no session bus")};
    const Deadline deadline(kKeyringBound);
    QString why;
    const auto secrets = service(deadline, why);
    if (!secrets)
        return {KeyringAnswer::State::Unavailable, {}, why};
    const std::unique_ptr<GHashTable, HashUnref> attributes(secret_attributes_build(
        schema(), "application", kApplication, "id", id.toUtf8().constData(), nullptr));
    GError* raw = nullptr;
    // No SECRET_SEARCH_UNLOCK: a locked item comes back locked, without its secret, and no prompt opens.
    GList* found = secret_service_search_sync(secrets.get(), schema(), attributes.get(),
                                              SECRET_SEARCH_LOAD_SECRETS, deadline.get(), &raw);
    const Error error(raw);
    const std::unique_ptr<GList, void (*)(GList*)> items(
        found, [](GList* l) { g_list_free_full(l, g_object_unref); });
    if (error)
        return {KeyringAnswer::State::Failed, {}, failure(deadline, error.get())};
    if (!found)
        return {KeyringAnswer::State::Missing, {}, QStringLiteral("is missing from the keyring")};
    auto* item = static_cast<SecretItem*>(found->data);
    if (secret_item_get_locked(item))
        return {KeyringAnswer::State::Locked, {}, QStringLiteral("is in the locked keyring")};
    SecretValue* value = secret_item_get_secret(item);
    if (!value)
        return {KeyringAnswer::State::Failed, {}, QStringLiteral("the keyring gave no password")};
    gsize length = 0;
    const gchar* bytes = secret_value_get(value, &length);
    QString password = QString::fromUtf8(bytes, qsizetype(length));
    secret_value_unref(value);
    return {KeyringAnswer::State::Done, password, {}};
}

KeyringUnlock::KeyringUnlock() : cancellable_(g_cancellable_new()) {}

KeyringUnlock::~KeyringUnlock() {
    g_object_unref(cancellable_);
}

void KeyringUnlock::cancel() {
    g_cancellable_cancel(cancellable_);
}

KeyringAnswer KeyringUnlock::run() {
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return {KeyringAnswer::State::Unavailable, {}, QStringLiteral("no keyring: no session bus")};
    std::unique_ptr<SecretService, ObjectUnref> secrets;
    {
        const Deadline deadline(kKeyringBound); // reaching the keyring is bounded; the user is not
        QString why;
        if (!(secrets = service(deadline, why)))
            return {KeyringAnswer::State::Unavailable, {}, why};
    }
    const std::unique_ptr<GHashTable, HashUnref> attributes(
        secret_attributes_build(schema(), "application", kApplication, nullptr));
    GError* raw = nullptr;
    // SECRET_SEARCH_UNLOCK: the keyring asks the user, in a prompt of its own, to unlock what holds them.
    GList* found = secret_service_search_sync(secrets.get(), schema(), attributes.get(),
                                              SecretSearchFlags(SECRET_SEARCH_ALL | SECRET_SEARCH_UNLOCK),
                                              cancellable_, &raw);
    const Error error(raw);
    const std::unique_ptr<GList, void (*)(GList*)> items(
        found, [](GList* l) { g_list_free_full(l, g_object_unref); });
    if (g_cancellable_is_cancelled(cancellable_))
        return {KeyringAnswer::State::Locked, {}, QStringLiteral("the keyring stays locked")};
    if (error)
        return {KeyringAnswer::State::Failed, {}, QString::fromUtf8(error->message)};
    if (!found)
        return {KeyringAnswer::State::Missing, {}, QStringLiteral("the keyring holds none of its passwords")};
    for (GList* l = found; l; l = l->next)
        if (secret_item_get_locked(static_cast<SecretItem*>(l->data)))
            return {KeyringAnswer::State::Locked, {}, QStringLiteral("the keyring stays locked")};
    return {KeyringAnswer::State::Done, {}, {}};
}

} // namespace zantrel
