#pragma once

#include <QWidget>

class QLabel;

namespace zantrel {

class CaptionRow;

// The single-picture viewer: a frameless window with a caption row (two blanks and the picture's full
// path, "close") over the picture stretched to the window's size, proportions not kept. One viewer is
// reused for every picture the gallery opens; it is centred on the screen the first time it is shown.
// A missing or unreadable file shows a message in place of the picture.
class ImageView : public QWidget {
    Q_OBJECT
  public:
    static constexpr QSize kInitialSize{259, 220};

    explicit ImageView(QWidget* parent = nullptr);

    // Loads the picture at `path` and shows the window (modal to the application).
    void showPath(const QString& path);
    QString path() const { return path_; }
    // The picture as loaded (null when a message is shown instead) and the message.
    QImage picture() const;
    QString message() const;
    QLabel* source() const { return source_; }

    void captionClicked(const QString& key);

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void load();

    CaptionRow* caption_ = nullptr;
    QLabel* source_ = nullptr;
    QString path_;
    bool placed_ = false;
};

} // namespace zantrel
