#pragma once

#include "capture/video_format.h"

#include <QDialog>
#include <functional>

class QListWidget;

namespace zantrel {

// "Video Format": the formats the camera offers; choosing one applies it at once. When the camera
// refuses it, the selection goes back to the format in use.
class FormatDialog : public QDialog {
    Q_OBJECT
  public:
    using Apply = std::function<bool(const VideoFormat&)>;
    FormatDialog(std::vector<VideoFormat> formats, const QString& currentCaps, Apply apply,
                 QWidget* parent = nullptr);

    QListWidget* list() const { return list_; }
    int currentIndex() const { return current_; }

  private:
    void choose(int row);

    std::vector<VideoFormat> formats_;
    Apply apply_;
    QListWidget* list_ = nullptr; // child
    int current_ = -1;
};

} // namespace zantrel
