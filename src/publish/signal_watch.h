#pragma once

#include <QObject>
#include <initializer_list>
#include <memory>
#include <vector>

class QSocketNotifier;

namespace zantrel {

// Turns Unix signals (SIGTERM, SIGINT, SIGHUP, ...) into a Qt signal on the thread that made this
// object, through a socket pair the handler writes to, so nothing but a write runs in the handler.
// One at a time in the process; the default handling comes back when it goes.
class SignalWatch : public QObject {
    Q_OBJECT
  public:
    explicit SignalWatch(std::initializer_list<int> signalNumbers, QObject* parent = nullptr);
    ~SignalWatch() override;

  Q_SIGNALS:
    void received(int signalNumber);

  private:
    std::unique_ptr<QSocketNotifier> notifier_;
    std::vector<int> watched_;
};

} // namespace zantrel
