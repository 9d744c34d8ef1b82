#pragma once

#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QSpinBox;

namespace zantrel {

// The "Live view" page: the HTTP server's switch, address, port, viewer limit, login and TLS files, with
// the addresses to open and a warning when the server is open to the network without a login.
class LiveViewPage : public QWidget {
    Q_OBJECT
  public:
    explicit LiveViewPage(QWidget* parent = nullptr);
    void load(); // from the settings
    void store() const;

  private:
    void showAddresses();

    QCheckBox* enable_;
    QLineEdit* bind_;
    QSpinBox* port_;
    QSpinBox* clients_;
    QLineEdit* user_;
    QLineEdit* password_;
    QLineEdit* cert_;
    QLineEdit* key_;
    QLabel* addresses_;
    QLabel* warning_;
};

} // namespace zantrel
