#pragma once

#include <QDialog>
#include <QStringList>

class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;

namespace zantrel {

class TimelapseJob;
struct TimelapseResult;

// "Make time-lapse...": a video of the pictures the gallery shows, or of the archive's copies of a
// chosen day or range of days, at a frame rate and largest width, into a file. The encode runs off the
// window's thread with a progress bar (frames and time left); Cancel stops it and leaves no file.
class TimelapseDialog : public QDialog {
    Q_OBJECT
  public:
    TimelapseDialog(QStringList shown, QString folder, QWidget* parent = nullptr);
    ~TimelapseDialog() override;

    // Opens a dialog over parent, without waiting for it; it is deleted when closed.
    static TimelapseDialog* open(QStringList shown, QString folder, QWidget* parent);

    void start();
    TimelapseJob& job() const { return *job_; }

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void sourceChanged();
    void browse();
    void showProgress(int done, int total, int secondsLeft);
    void showResult(const TimelapseResult& result);
    void setRunning(bool running);

    QStringList shown_;
    QString folder_;
    TimelapseJob* job_;
    QComboBox* source_;
    QDateEdit* from_;
    QDateEdit* to_;
    QSpinBox* fps_;
    QSpinBox* width_;
    QLineEdit* output_;
    QPushButton* browse_;
    QProgressBar* progress_;
    QLabel* state_;
    QPushButton* make_;
    QPushButton* cancel_;
};

} // namespace zantrel
