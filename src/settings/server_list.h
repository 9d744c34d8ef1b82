#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <vector>

namespace zantrel {

// The fields of one FTP server entry as the server editor shows them.
enum class ServerField {
    Address,
    Port,
    Login,
    Password,
    Directory,
    Passive,
    Atomic,
    Pinned,
    KeyFile,
    Region
};

// One row of the server list: what its columns show.
struct ServerRow {
    QString address, port, login, directory;
};

// The FTP server list of the settings, edited in place: every change is stored at once. The current
// entry (1-based, 0 for none) is the one the editor's fields show and the only one edits go to. Every
// rebuild of the list names the entry that becomes current, so the fields can always be refilled from
// it; no edit can land in an entry the fields do not show.
class ServerListEditor {
  public:
    // Reads the list from the settings (the entries ServerEntryCount counts); keeps the current entry when
    // it still exists, else the first one.
    std::vector<ServerRow> rebuild();
    int count() const { return count_; }
    int current() const { return current_; }
    // Makes entry n current (0 or out of range: none).
    void select(int n);

    // The current entry's stored text for a field, with its default; "" without a current entry. A port
    // left at FTP's 21 reads as the port of the address's kind.
    QString text(ServerField field) const;
    // Stores the text under the current entry's key for the field. False without a current entry. The
    // password is saved in the background (it may go to the keyring); `saved` runs on context's thread
    // once it is.
    bool edit(ServerField field, const QString& text, QObject* context = nullptr,
              std::function<void()> saved = {});

    // Appends an entry with empty fields and port 21 and makes it current (none beyond kMaxServerEntries).
    void add();
    // Removes the current entry, moving later entries up and deleting the keys of the last one; the entry
    // that took its place (or the new last one) becomes current. Nothing happens without a current entry.
    void remove();

  private:
    int count_ = 0;
    int current_ = 0;
};

// The port a kind of address uses when none is set: 21 for FTP and FTPS, 22 for SFTP, 80 or 443 for
// WebDAV and S3; 0 for a folder or an unknown kind.
int DefaultPort(const QString& address);

// What an address tells about the connection: "FTP", "FTPS (FTP over TLS)", "SFTP (over SSH)", "Folder",
// "WebDAV", "S3", ... or that the program does not know its kind.
QString ServerProtocolText(const QString& address);

} // namespace zantrel
