#pragma once

#include <QDialog>

class QLabel;
class QTimer;

namespace zantrel {

// "Version: 2.00 Build:" – the major version as is, the minor padded to two digits, the build number
// after "Build:" with nothing shown for build 0.
QString AboutVersionLine(int major, int minor, int build);

// The about box: the version line, credits that scroll up without end, "OK", and a drag on the
// background with any button.
class frmAbout : public QDialog {
    Q_OBJECT
  public:
    explicit frmAbout(QWidget* parent = nullptr);

    // One step of the credits: up one pixel, back to the bottom once they have left the frame.
    void scrollCredits();
    QLabel* credits() const { return aboutText_; }
    QWidget* creditsFrame() const { return textFrame_; }

    static QString creditsText();

  private:
    QWidget* textFrame_;
    QLabel* aboutText_;
    QTimer* timer_;
};

} // namespace zantrel
