#pragma once

#include "settings/settings_form.h"

#include <QWidget>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QSlider;

namespace zantrel {

// The "Preferences" page: start at login, hang-up, automatic run and the access password.
class PreferencesPage : public QWidget {
    Q_OBJECT
  public:
    explicit PreferencesPage(QWidget* parent = nullptr);
    void load(const PreferenceValues& values);
    PreferenceValues values() const;

  private:
    QCheckBox* windowsStart_;
    QCheckBox* autoHangUp_;
    QCheckBox* autoRun_;
    QCheckBox* usePassword_;
    QLineEdit* password_;
};

class ServerEditor;

// The "Internet" page: the upload switch and the server list editor (which stores as it goes). Without
// a server the switch is off and cannot be turned on.
class InternetPage : public QWidget {
    Q_OBJECT
  public:
    explicit InternetPage(QWidget* parent = nullptr);
    void load(bool upload);
    bool upload() const;
    ServerEditor* servers() const { return servers_; }

  private:
    QCheckBox* upload_;
    ServerEditor* servers_;
};

// The controls of the switched-off modem feature. Never shown; they carry the MODEM settings from
// loading to confirming.
class ModemControls : public QWidget {
    Q_OBJECT
  public:
    explicit ModemControls(QWidget* parent = nullptr);
    void load(const ModemValues& values);
    ModemValues values() const;

  private:
    QComboBox* com_;
    QComboBox* speed_;
    QComboBox* parity_;
    QComboBox* stopBits_;
    QComboBox* dataBits_;
    QComboBox* dialMode_;
    QCheckBox* autoAnswer_;
    QSlider* rings_;
    QCheckBox* askForPassword_;
};

} // namespace zantrel
