#pragma once

#include "settings/server_list.h"

#include <QWidget>
#include <map>

class QAbstractButton;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace zantrel {

struct ServerCheckResult;

// The FTP server list with its fields: every keystroke is stored at once in the entry the fields show,
// and the list row follows. After Add the new entry is shown; after Remove the entry that took the
// removed one's place (or the new last one); with no entries the fields show their blank texts and
// stay disabled until Add, so nothing is typed that could not be kept. "Test" checks the shown entry off the
// UI thread and shows the outcome beside it.
class ServerEditor : public QWidget {
    Q_OBJECT
  public:
    explicit ServerEditor(QWidget* parent = nullptr);

    // Rebuilds the list from the settings and shows the current entry.
    void reload();
    int count() const { return editor_.count(); }

  Q_SIGNALS:
    // Add or Remove changed the number of entries.
    void countChanged(int count);
    // The outcome of a server check is on show (tests wait for it).
    void checkFinished();

  private:
    void showCurrent();
    void fieldEdited(ServerField field, const QString& text);
    void add();
    void remove();
    void test();
    void showOutcome(quint64 number, const ServerCheckResult& result);
    void passwordSaved();
    void showProtocol();

    ServerListEditor editor_;
    QTreeWidget* list_;
    std::map<ServerField, QLineEdit*> texts_;
    std::map<ServerField, QCheckBox*> checks_;
    QWidget* fields_;
    QLabel* protocol_;
    QLabel* passiveHint_; // FTPS: always passive
    QPushButton* add_ = nullptr;
    QPushButton* remove_;
    QPushButton* test_;
    QLabel* outcome_;
    bool rebuilding_ = false;
    bool filling_ = false;    // the fields are being filled from the current entry
    int passwordSaves_ = 0;   // passwords typed and not yet saved
    quint64 checkNumber_ = 0; // of the newest check, so a late outcome of an older one is dropped
};

} // namespace zantrel
