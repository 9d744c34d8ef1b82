#pragma once

#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace zantrel {

// The "Alerts" page: when publishing counts as failing or stale (ALERT/AFTER, STALE) and where alerts go:
// the hook (URL), the mail (MAILTO, SMTP, SMTPLOGIN, SMTPPASSWORD, SMTPPIN) and the desktop (DESKTOP), each
// with a "Send test" button that sends a test alert off the UI thread with what the fields hold.
class AlertsPage : public QWidget {
    Q_OBJECT
  public:
    explicit AlertsPage(QWidget* parent = nullptr);
    void load();
    void store() const;
    // Why the fields cannot be stored (a hook that is not http or https, a mail server or address
    // that cannot be used), shown on the page; empty when they can.
    QString problem() const;

  Q_SIGNALS:
    void testFinished(); // a test's outcome is shown

  private:
    void showProblem();
    void sendTest(int kind);

    QSpinBox* after_;
    QSpinBox* stale_;
    QLineEdit* url_;
    QLineEdit* mailTo_;
    QLineEdit* smtp_;
    QLineEdit* login_;
    QLineEdit* password_;
    QLineEdit* pin_;
    QCheckBox* desktop_;
    QPushButton* tests_[3];
    QLabel* outcome_;
};

} // namespace zantrel
