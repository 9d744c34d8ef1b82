#pragma once

#include <QWidget>

class QLabel;
class QToolButton;
class QHBoxLayout;

namespace zantrel {

// The caption row of the gallery's frameless windows: a title that is also a drag handle, then
// picture buttons identified by key. Pressing the title moves the window.
class GalleryCaption : public QWidget {
    Q_OBJECT
  public:
    explicit GalleryCaption(const QString& title, QWidget* parent = nullptr);

    void setTitle(const QString& title);
    QString title() const;
    // Adds a button at the right end; `tip` empty for none.
    void addButton(const QString& key, const QString& picture, const QString& tip);
    void setPicture(const QString& key, const QString& picture);
    QString picture(const QString& key) const;
    QToolButton* button(const QString& key) const;

  Q_SIGNALS:
    void clicked(const QString& key);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QLabel* title_ = nullptr;
    QHBoxLayout* layout_ = nullptr;
};

// Moves a frameless window by the system's move loop, as if its title bar had been pressed.
void DragGalleryWindow(QWidget* window);

} // namespace zantrel
