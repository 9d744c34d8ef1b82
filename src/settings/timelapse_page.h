#pragma once

#include <QWidget>

class QCheckBox;
class QLineEdit;
class QSpinBox;
class QTimeEdit;

namespace zantrel {

// The "Time-lapse" page: the daily video of the archive (TIMELAPSE/DAILY, AT, FPS, WIDTH) and its
// upload (UPLOAD, NAME). Loads from the settings when made; store() writes them back.
class TimelapsePage : public QWidget {
    Q_OBJECT
  public:
    explicit TimelapsePage(QWidget* parent = nullptr);
    void load();
    void store() const;

  private:
    QCheckBox* daily_;
    QTimeEdit* at_;
    QSpinBox* fps_;
    QSpinBox* width_;
    QCheckBox* upload_;
    QLineEdit* name_;
};

} // namespace zantrel
