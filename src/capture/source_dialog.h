#pragma once

#include "capture/video_format.h"

#include <QDialog>
#include <functional>

class QSlider;

namespace zantrel {

// "Video Source": one slider per adjustable control of the camera, with its range and current value;
// moving a slider changes the picture at once.
class SourceDialog : public QDialog {
    Q_OBJECT
  public:
    using Apply = std::function<bool(const QString& name, int value)>;
    SourceDialog(const std::vector<SourceControl>& controls, Apply apply, QWidget* parent = nullptr);

    // The slider of a control (its objectName is the control's name), or null.
    QSlider* slider(const QString& name) const;

  private:
    Apply apply_;
};

} // namespace zantrel
