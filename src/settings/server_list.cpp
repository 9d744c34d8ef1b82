#include "settings/server_list.h"

#include "core/setting_keys.h"
#include "core/store.h"
#include "secrets/background_saves.h"
#include "secrets/secret_resolver.h"
#include "transfer/server_address.h"
#include "transfer/upload_target.h"

#include <algorithm>

namespace zantrel {

namespace {

const keys::SettingKey& keyOf(ServerField field) {
    switch (field) {
    case ServerField::Address:
        return keys::FtpEntryAddress;
    case ServerField::Port:
        return keys::FtpEntryPort;
    case ServerField::Login:
        return keys::FtpEntryLogin;
    case ServerField::Password:
        return keys::FtpEntryPassword;
    case ServerField::Directory:
        return keys::FtpEntryUrl;
    case ServerField::Passive:
        return keys::FtpEntryPassive;
    case ServerField::Atomic:
        return keys::FtpEntryAtomic;
    case ServerField::Pinned:
        return keys::FtpEntryPinned;
    case ServerField::KeyFile:
        return keys::FtpEntryKeyFile;
    case ServerField::Region:
        break;
    }
    return keys::FtpEntryRegion;
}

constexpr ServerField kAllFields[] = {ServerField::Address,  ServerField::Port,      ServerField::Login,
                                      ServerField::Password, ServerField::Directory, ServerField::Passive,
                                      ServerField::Atomic,   ServerField::Pinned,    ServerField::KeyFile,
                                      ServerField::Region};

QString storedValue(ServerField field, int n) {
    const keys::SettingKey& key = keyOf(field);
    return GetSetting(QString::fromLatin1(key.section), serverEntryKey(key, n),
                      QString::fromLatin1(key.fallback));
}

// The stored value; for the port, FTP's 21 (the port every entry starts with) as the port the address's
// kind uses, as the transfers take it.
QString entryValue(ServerField field, int n) {
    const QString value = storedValue(field, n);
    if (field != ServerField::Port || value != QLatin1String("21"))
        return value;
    const int port = DefaultPort(storedValue(ServerField::Address, n));
    return port > 0 ? QString::number(port) : value;
}

void storeEntryValue(ServerField field, int n, const QString& text) {
    const keys::SettingKey& key = keyOf(field);
    SaveSetting(QString::fromLatin1(key.section), serverEntryKey(key, n), text);
}

// What the program itself remembers for an entry: it goes with the entry, and a new entry starts without.
void moveRemembered(int from, int to) {
    const keys::SettingKey& key = keys::FtpEntryNoRename;
    const QString section = QString::fromLatin1(key.section);
    const QString value = from ? GetSetting(section, serverEntryKey(key, from)) : QString();
    if (value != GetSetting(section, serverEntryKey(key, to)))
        SaveSetting(section, serverEntryKey(key, to), value);
}

} // namespace

std::vector<ServerRow> ServerListEditor::rebuild() {
    count_ = ServerEntryCount();
    std::vector<ServerRow> rows;
    rows.reserve(std::size_t(count_));
    for (int n = 1; n <= count_; ++n)
        rows.push_back({entryValue(ServerField::Address, n), entryValue(ServerField::Port, n),
                        entryValue(ServerField::Login, n), entryValue(ServerField::Directory, n)});
    if (current_ < 1 || current_ > count_)
        current_ = count_ > 0 ? 1 : 0;
    return rows;
}

void ServerListEditor::select(int n) {
    current_ = (n >= 1 && n <= count_) ? n : 0;
}

QString ServerListEditor::text(ServerField field) const {
    return current_ ? entryValue(field, current_) : QString();
}

bool ServerListEditor::edit(ServerField field, const QString& text, QObject* context,
                            std::function<void()> saved) {
    if (!current_)
        return false;
    if (field == ServerField::Password) { // it may go to the keyring, which is not waited for here
        const keys::SettingKey& key = keyOf(field);
        SavePasswordInBackground(QString::fromLatin1(key.section), serverEntryKey(key, current_), text,
                                 context, std::move(saved));
    } else {
        storeEntryValue(field, current_, text);
    }
    return true;
}

void ServerListEditor::add() {
    if (count_ >= kMaxServerEntries)
        return;
    const int n = count_ + 1;
    SaveSetting(keys::FtpServers, NumberText(n));
    for (ServerField field : kAllFields)
        storeEntryValue(field, n, QString::fromLatin1(keyOf(field).fallback));
    moveRemembered(0, n);
    rebuild();
    select(n);
}

void ServerListEditor::remove() {
    if (!current_)
        return;
    const QString password = storedValue(ServerField::Password, current_);
    for (int n = current_ + 1; n <= count_; ++n) {
        for (ServerField field : kAllFields)
            storeEntryValue(field, n - 1, storedValue(field, n));
        moveRemembered(n, n - 1);
    }
    // The last entry moved up: its keys (its password among them) must not stay behind in the file.
    for (ServerField field : kAllFields)
        RemoveSetting(QString::fromLatin1(keyOf(field).section), serverEntryKey(keyOf(field), count_));
    RemoveSetting(QString::fromLatin1(keys::FtpEntryNoRename.section),
                  serverEntryKey(keys::FtpEntryNoRename, count_));
    SaveSetting(keys::FtpServers, NumberText(count_ - 1));
    // Its password leaves the keyring too, unless a copy of the entry still names it.
    SaveInBackground({}, [password] { ForgetUnusedKeyringItem(password); });
    const int next = current_;
    rebuild();
    select(std::min(next, count_));
}

int DefaultPort(const QString& address) {
    static const struct {
        const char* scheme;
        int port;
    } ports[] = {{"ftp", 21},   {"ftps", 21}, {"sftp", 22},   {"dav", 80},
                 {"davs", 443}, {"s3", 443},  {"s3+http", 80}};
    const QString scheme = TargetScheme(address);
    for (const auto& p : ports)
        if (scheme == QLatin1String(p.scheme))
            return p.port;
    return 0;
}

QString ServerProtocolText(const QString& address) {
    const QString scheme = TargetScheme(address);
    static const struct {
        const char* scheme;
        const char* text;
    } others[] = {{"file", "Folder on this computer"},
                  {"dav", "WebDAV (HTTP)"},
                  {"davs", "WebDAV over HTTPS"},
                  {"s3", "S3 object storage (HTTPS)"},
                  {"s3+http", "S3 object storage (plain HTTP)"}};
    for (const auto& o : others)
        if (scheme == QLatin1String(o.scheme))
            return QString::fromLatin1(o.text);
    if (!KnownTargetSchemes().contains(scheme))
        return QStringLiteral("Unknown kind of address");
    switch (ParseServerAddress(address, 21).transport) {
    case Transport::Ftps:
        return QStringLiteral("FTPS (FTP over TLS)");
    case Transport::Sftp:
        return QStringLiteral("SFTP (over SSH)");
    case Transport::Ftp:
        break;
    }
    return QStringLiteral("FTP");
}

} // namespace zantrel
