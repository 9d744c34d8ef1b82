#pragma once

#include "settings/device_page.h"
#include "settings/settings_form.h"

#include <QDialog>

class QStackedWidget;
class QTabBar;

namespace zantrel {

class CaptureWindow;
class ImagePage;
class InternetPage;
class LiveViewPage;
class MqttPage;
class ModemControls;
class PreferencesPage;
class AlertsPage;
class TimelapsePage;
class TimerPage;

// The settings dialog (frmAllSettings): every option on tabbed pages, loaded from the settings when it
// is made and written back on OK. While it is open, its stamp layout and compression are the live values
// the publishing job uses; OK, Cancel and closing hand that back to the settings. Server list edits are
// stored as they are made. The camera, live video mode and format change at once.
class SettingsDialog : public QDialog {
    Q_OBJECT
  public:
    static constexpr int kReservedTab = 4; // the switched-off modem feature: its tab shows no page
    // The most the dialog takes, its frame not counted: every page fits a 1280x720 screen with the title
    // bar and a desktop panel.
    static constexpr QSize kLargest{1240, 620};

    explicit SettingsDialog(CaptureWindow& capture, QWidget* parent = nullptr, OverlaySwitch setOverlay = {});
    ~SettingsDialog() override;

    // The values the pages show now.
    SettingsForm form() const;

  public Q_SLOTS:
    // OK: stores every page in order; refuses an empty access password (the dialog stays open).
    void accept() override;
    void reject() override;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    // One size for every page: the largest page's, within kLargest and the screen; taller pages scroll.
    void fitPages(std::initializer_list<QWidget*> pages);
    void switchTab(int index);
    void showPreview();

    CaptureWindow& capture_;
    SettingsForm loaded_; // as read from the settings
    SettingsForm shown_;  // as the controls showed it then
    QTabBar* tabs_;
    QStackedWidget* panels_;
    DevicePage* device_;
    TimerPage* timer_;
    ImagePage* image_;
    InternetPage* internet_;
    ModemControls* modem_;
    PreferencesPage* prefs_;
    LiveViewPage* liveView_;
    TimelapsePage* timelapse_;
    AlertsPage* alerts_;
    MqttPage* mqtt_;
};

// Opens the settings dialog modal to parent and returns it at once, shown; it deletes itself when it
// closes (its finished signal tells how). Give the main window's mode switch as setOverlay, so that
// the mode it saves at close is the one chosen here.
SettingsDialog* ShowSettingsDialog(CaptureWindow& capture, QWidget* parent = nullptr,
                                   OverlaySwitch setOverlay = {});

} // namespace zantrel
