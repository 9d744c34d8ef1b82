#pragma once

#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace zantrel {

struct MqttSettings;

// The "MQTT" page: the broker (URL, LOGIN, PASSWORD, CAFILE), the topic and what goes there (DISCOVERY,
// IMAGE, COMMANDS), with a "Send test" that publishes a test alert off the UI thread with what the
// fields hold, and why the fields cannot be stored.
class MqttPage : public QWidget {
    Q_OBJECT
  public:
    explicit MqttPage(QWidget* parent = nullptr);
    void load();
    void store() const;
    // Why the fields cannot be stored (empty when they can): a malformed address, a topic with wildcards.
    QString problem() const;

  Q_SIGNALS:
    void testFinished(); // a test's outcome is shown

  private:
    MqttSettings values() const;
    void showProblem();
    void sendTest();

    QLineEdit* url_;
    QLineEdit* login_;
    QLineEdit* password_;
    QLineEdit* topic_;
    QLineEdit* caFile_;
    QCheckBox* discovery_;
    QCheckBox* image_;
    QCheckBox* commands_;
    QPushButton* test_;
    QLabel* outcome_;
};

} // namespace zantrel
