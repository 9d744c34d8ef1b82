#pragma once

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <memory>
#include <optional>

class QMenu;
class QWidget;

namespace zantrel {

// The tip reads the program's title, a comma and a state text, with no blank added.
QString MakeTrayTip(const QString& state);
// The tip as the notification area keeps it: a 64-character field that ends in a terminator, so at most
// 63 characters of the text show.
QString CutTrayTip(const QString& text);

// The program's icon in the notification area, for as long as the main window exists. A left click
// brings the window back; a right click opens the menu "About...", "Exit". The icon's picture and tip
// show the program's state.
class SysTray : public QObject {
    Q_OBJECT
  public:
    explicit SysTray(QObject* parent = nullptr);
    ~SysTray() override;

    // Shows the icon for `window`, with the window's own icon as its first picture.
    void AddTrayIcon(QWidget* window);
    void RemoveTrayIcon();
    void SetTrayTip(const QString& text);
    // A null picture leaves the icon as it is.
    void SetTrayIcon(const QIcon& picture);

    bool present() const;
    // Whether the desktop has a notification area. Tests may decide it instead of the desktop.
    static bool available();
    static void setAvailableForTesting(std::optional<bool> available);
    QString tip() const { return tip_; }
    QMenu* menu() const { return menu_.get(); }
    QSystemTrayIcon* icon() const { return icon_.get(); }

    // What a click on the icon does: a left click (release) restores the window and resets the tip; the
    // right click opens the menu (the platform shows it); double clicks and the rest do nothing.
    void activated(QSystemTrayIcon::ActivationReason reason);

  Q_SIGNALS:
    void aboutRequested();
    void exitRequested();

  private:
    std::unique_ptr<QMenu> menu_;
    std::unique_ptr<QSystemTrayIcon> icon_;
    QPointer<QWidget> window_;
    QString tip_;
};

} // namespace zantrel
