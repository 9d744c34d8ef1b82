#pragma once

#include <QIcon>
#include <QWidget>
#include <vector>

class QLabel;
class QToolButton;

namespace zantrel {

// The caption row of a frameless window: a strip of picture buttons (`CaptionToolbar`) whose first item
// is a blank placeholder ("space") that takes up whatever the buttons leave, so the buttons always stand
// at the right end, and the title picture (`CaptionPicture`) laid over the placeholder. The picture is a
// drag handle of the window (left button). Clicks report the button's key.
class CaptionRow : public QWidget {
    Q_OBJECT
  public:
    static constexpr QSize kButtonSize{20, 18};

    // `toolbarTop`: how far the button strip sits below the top of the title picture.
    explicit CaptionRow(QWidget* parent = nullptr, int toolbarTop = 0);

    QToolButton* addButton(const QString& key, const QIcon& icon, const QString& tip);
    QToolButton* button(const QString& key) const;

    // The title is printed after two blanks, as the window's caption.
    void setTitle(const QString& title);
    QLabel* picture() const { return picture_; }
    QWidget* toolbar() const { return toolbar_; }
    QWidget* space() const { return space_; }

    // How far the title picture starts from the left of the row; the placeholder gives up as much at
    // its right end, so the buttons line up with a container that starts as far in.
    void setPictureLeft(int pixels);
    int rowHeight() const { return toolbarTop_ + kButtonSize.height(); }

  Q_SIGNALS:
    void buttonClicked(const QString& key);

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    void layoutRow();

    QWidget* toolbar_;
    QWidget* space_;
    QLabel* picture_;
    std::vector<QToolButton*> buttons_;
    int toolbarTop_;
    int pictureLeft_ = 0;
};

} // namespace zantrel
