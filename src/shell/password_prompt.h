#pragma once

#include <QDialog>

class QLineEdit;

namespace zantrel {

class MessageSink;

// The access password prompt. The answer counts as accepted only when the text in the box equals the
// stored password at the moment Enter is pressed after a change; Escape always refuses.
class frmPassword : public QDialog {
    Q_OBJECT
  public:
    explicit frmPassword(MessageSink& messages, QWidget* parent = nullptr);

    bool PasswordAccepted() const { return accepted_; }

    // Shows the prompt modally and returns whether the right password was given.
    static bool Ask(MessageSink& messages, QWidget* parent);

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    MessageSink& messages_;
    QLineEdit* passw_ = nullptr;
    bool accepted_ = false;
};

// True when PREF/USEPASS asks for the password before protected commands.
bool PasswordRequired();

} // namespace zantrel
