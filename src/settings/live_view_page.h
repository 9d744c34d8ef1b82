#pragma once

#include <QFutureWatcher>
#include <QString>
#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QSpinBox;

namespace zantrel {

// The "Live view" page: the HTTP server's switch, address, port, viewer limit, login, TLS files and extra
// host names, with the addresses to open, a warning when the server is open to the network without a
// login, and why the live view cannot run (the certificate and key as written, checked away from the UI
// thread, or the running live view's failure).
class LiveViewPage : public QWidget {
    Q_OBJECT
  public:
    explicit LiveViewPage(QWidget* parent = nullptr);
    void load(); // from the settings
    void store() const;

  private:
    void showAddresses();
    void checkFiles();
    void showProblem();

    QCheckBox* enable_;
    QLineEdit* bind_;
    QSpinBox* port_;
    QSpinBox* clients_;
    QLineEdit* user_;
    QLineEdit* password_;
    QLineEdit* cert_;
    QLineEdit* key_;
    QLineEdit* hosts_;
    QLabel* addresses_;
    QLabel* warning_;
    QLabel* problem_;
    QString filesProblem_;
    QFutureWatcher<QString> filesCheck_; // the newest check of the files; older answers are dropped
};

} // namespace zantrel
