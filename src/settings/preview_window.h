#pragma once

#include "imaging/stamp.h"

#include <QDialog>
#include <QImage>
#include <QSize>

class QLabel;

namespace zantrel {

// The frame with its stamps, as the published file will show it: stamped, then encoded at quality
// 100 − compression and decoded again, all in memory.
QImage PreparePreview(QImage frame, const StampParams& stamps, int compression);

// The size the picture is shown at: its own, or scaled down (proportions kept) so that it and the
// window's margins fit the available area.
QSize PreviewPictureSize(QSize picture, QSize available);

// The window "Preview" (frmPreview): the prepared picture centred in a margin; any key closes it.
class PreviewWindow : public QDialog {
    Q_OBJECT
  public:
    static constexpr int kMarginWidth = 40;
    static constexpr int kMarginHeight = 60;

    explicit PreviewWindow(const QImage& picture, QWidget* parent = nullptr);
    QLabel* picture() const { return picture_; }

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    QLabel* picture_;
};

} // namespace zantrel
