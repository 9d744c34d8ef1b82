#pragma once

#include "core/sinks.h"
#include "publish/run_control.h"

#include <QWidget>
#include <memory>

class QLabel;
class QToolBar;
class QAction;
class QVBoxLayout;

namespace zantrel {

class CaptureWindow;
class LabelStatusSink;
class PublishingCore;
class VideoWindow;
class WindowMessageSink;

// The main window: upper toolbar, video area, run/now/stop toolbar and the status line. Logic lives in
// RunControl and the core; this class lays out widgets and forwards clicks.
class Master : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kMinimumWidth = 250;
    static constexpr int kMinimumHeight = 230;
    static constexpr int kTwipsPerPixel = 15;

    explicit Master(QWidget* parent = nullptr);
    ~Master() override;

    // The start-up steps that follow creating the window: geometry, live video mode, automatic run.
    void load();

    // Camera, FTP client, jobs and run control, wired to this window's sinks.
    PublishingCore& publishing() { return *core_; }
    RunControl& runControl();
    CaptureWindow& captureWindow();
    StatusSink& statusSink();
    MessageSink& messageSink();
    bool overlayMode() const { return overlayMode_; }
    // Switches between preview and overlay and refits the live picture.
    void setOverlayMode(bool on);

    QAction* otherToolbarAction(const QString& key) const;
    QToolBar* masterToolbar() const { return masterToolbar_; }
    QToolBar* otherToolbar() const { return otherToolbar_; }
    QLabel* statusLabel() const { return status_; }
    QVBoxLayout* controlsLayout() const { return controlsLayout_; }

    // Runs a command of the run/now/stop toolbar by its key.
    void otherToolbarClicked(const QString& key);

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void applyButtons(RunControl::Buttons b);
    void saveWindowState();

    QToolBar* masterToolbar_ = nullptr;
    QToolBar* otherToolbar_ = nullptr;
    QLabel* status_ = nullptr;
    QVBoxLayout* controlsLayout_ = nullptr;
    VideoWindow* videoWindow_ = nullptr;
    // The sinks outlive the publishing core, whose job thread reports to them.
    std::unique_ptr<LabelStatusSink> statusSink_;
    std::unique_ptr<WindowMessageSink> messageSink_;
    std::unique_ptr<PublishingCore> core_;
    bool overlayMode_ = false;
    bool stateSaved_ = false;
    bool loaded_ = false;
};

} // namespace zantrel
