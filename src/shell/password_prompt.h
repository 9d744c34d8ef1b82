#pragma once

#include <QDialog>
#include <functional>

class QLineEdit;

namespace zantrel {

// The access password prompt. The answer counts as accepted only when the text in the box matches the
// stored password at the moment Enter is pressed after a change; Escape always refuses. A wrong one
// shows "Incorrect Password." in a box of its own each time.
class frmPassword : public QDialog {
    Q_OBJECT
  public:
    explicit frmPassword(QWidget* parent = nullptr);

    bool PasswordAccepted() const { return accepted_; }

    // Opens the prompt modal to parent and returns at once; onAccepted runs once the right password
    // was given. The prompt deletes itself when it closes.
    static void Ask(QWidget* parent, std::function<void()> onAccepted);

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    QLineEdit* passw_ = nullptr;
    bool accepted_ = false;
    bool touched_ = false;
};

// True when PREF/USEPASS asks for the password before protected commands.
bool PasswordRequired();

} // namespace zantrel
