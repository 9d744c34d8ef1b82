#pragma once

#include "core/sinks.h"
#include "publish/run_control.h"
#include "shell/master_layout.h"
#include "shell/status_line.h"

#include <QStringList>
#include <QWidget>
#include <memory>

class QLabel;
class QToolBar;
class QAction;

namespace zantrel {

class CaptionRow;
class CaptureWindow;
class HealthMonitor;
class KeyringUnlockPrompt;
class LabelStatusSink;
class PublishingCore;
class SysTray;
class VideoWindow;
class WindowMessageSink;

// The services every publishing program runs beside it, attached to core: the live view and the health
// monitor, which keeps the state document for `--status` and hands the live view its events.
HealthMonitor& AttachServices(PublishingCore& core);

// The main window: no platform title bar; its own caption row (title, on-top pair, minimize, close), the
// controls container with the upper toolbar, the video area and the run/now/stop toolbar, and the status
// line. The gallery and the settings dialog belong to other windows: their buttons, once past the
// password, ask for them through signals.
class Master : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kMinimumWidth = MasterLayout::kMinimumWidth;
    static constexpr int kMinimumHeight = MasterLayout::kMinimumHeight;
    static constexpr int kTwipsPerPixel = 15;
    static constexpr int kWarningSize = 16;

    explicit Master(QWidget* parent = nullptr);
    ~Master() override;

    // The start-up steps that follow creating the window: title, on-top pair, tray icon, camera,
    // geometry, live video mode, automatic run.
    void load();

    // Camera, FTP client, jobs and run control, wired to this window's sinks.
    PublishingCore& publishing() { return *core_; }
    RunControl& runControl();
    CaptureWindow& captureWindow();
    StatusSink& statusSink();
    MessageSink& messageSink();
    SysTray& tray() { return *tray_; }
    CaptionRow& captionRow() { return *caption_; }
    bool overlayMode() const { return overlayMode_; }
    // Switches between preview and overlay and refits the live picture.
    void setOverlayMode(bool on);

    QAction* otherToolbarAction(const QString& key) const;
    QAction* masterToolbarAction(const QString& key) const;
    QToolBar* masterToolbar() const { return masterToolbar_; }
    QToolBar* otherToolbar() const { return otherToolbar_; }
    StatusLabel* statusLabel() const { return status_; }
    // The warning mark beside the status line: shown while a condition is under way, its tip the reasons.
    QLabel* warningMark() const { return warning_; }

    // The handlers of the three toolbars, by button key.
    void otherToolbarClicked(const QString& key);
    void masterToolbarClicked(const QString& key);
    void captionToolbarClicked(const QString& key);

  Q_SIGNALS:
    void galleryRequested();
    void settingsRequested();

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    void buildToolbars(QWidget* controls);
    void layoutWindow();
    void setOnTop(bool onTop);
    void showAbout();
    // Past the password, when one is asked for.
    void runCommand(const QString& key);
    void openWindow(const QString& key);
    void applyButtons(RunControl::Buttons b);
    void saveWindowState();
    void showStatus();

    CaptionRow* caption_ = nullptr;
    QWidget* controls_ = nullptr;
    QToolBar* masterToolbar_ = nullptr;
    QToolBar* otherToolbar_ = nullptr;
    StatusLabel* status_ = nullptr;
    QLabel* warning_ = nullptr;
    StatusLineText line_;
    int outcomeObserver_ = 0;
    VideoWindow* videoWindow_ = nullptr;
    std::unique_ptr<SysTray> tray_;
    // The sinks outlive the publishing core, whose job thread reports to them.
    std::unique_ptr<LabelStatusSink> statusSink_;
    std::unique_ptr<WindowMessageSink> messageSink_;
    std::unique_ptr<KeyringUnlockPrompt> unlockPrompt_; // before the sink it reports to goes
    std::unique_ptr<PublishingCore> core_;
    bool overlayMode_ = false;
    QStringList alerts_; // the conditions under way, which the tray shows
    bool stateSaved_ = false;
    bool loaded_ = false;
};

} // namespace zantrel
