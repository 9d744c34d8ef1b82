#pragma once

#include <QObject>
#include <QStringList>
#include <memory>

class QWidget;

namespace zantrel {

class KeyringUnlock;
class StatusSink;

// When the window asks to unlock the keyring: the first time a job finds a password in the locked
// keyring, and not again while it stays locked, whatever the answer. Once a job reads its passwords again
// (unlocked here or elsewhere), a keyring locked anew is asked about anew.
class KeyringUnlockOffer {
  public:
    // The reasons of a job's failing targets. Returns the question to ask now, "" for none.
    QString jobEnded(const QStringList& reasons);

  private:
    bool asked_ = false;
};

// The window's question: "Unlock..." opens the keyring's own prompt off the UI thread, and the status
// line says what came of it. The question holds nothing up: jobs go on, the servers that need the
// keyring failing, until it is unlocked.
class KeyringUnlockPrompt : public QObject {
    Q_OBJECT
  public:
    KeyringUnlockPrompt(QWidget* window, StatusSink& status);
    ~KeyringUnlockPrompt() override; // a keyring prompt still open is given up

    // On the UI thread, after each job.
    void jobEnded(const QStringList& reasons);

  Q_SIGNALS:
    void unlockEnded(bool unlocked);

  private:
    void unlock();

    QWidget* window_;
    StatusSink& status_;
    KeyringUnlockOffer offer_;
    std::shared_ptr<KeyringUnlock> running_;
};

} // namespace zantrel
