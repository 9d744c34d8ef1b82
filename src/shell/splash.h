#pragma once

#include <QDialog>

namespace zantrel {

// The round start-up picture: borderless, on top, only its ellipse visible and clickable; it closes
// itself after a few seconds.
class Splash : public QDialog {
    Q_OBJECT
  public:
    static constexpr int kShowMilliseconds = 3000;

    explicit Splash(int showMilliseconds = kShowMilliseconds, QWidget* parent = nullptr);

    // Whether start-up shows it: not for a one-shot run, not without a screen anyone looks at.
    static bool wanted(const QStringList& args);
    // Shows the splash and returns it at once; its finished signal tells when it has closed (itself,
    // or as every window closes). It deletes itself.
    static Splash* Show(int showMilliseconds = kShowMilliseconds);

    static QPixmap drawPicture();

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QPixmap picture_;
};

} // namespace zantrel
