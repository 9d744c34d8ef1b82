#pragma once

#include <QObject>
#include <memory>

namespace zantrel {

class SignalWatch;

// Turns SIGTERM, SIGINT and SIGHUP (session end, `kill`, Ctrl+C) into an orderly close of every window,
// so the window state is saved and connections are closed as on a normal exit.
class QuitOnSignal : public QObject {
    Q_OBJECT
  public:
    explicit QuitOnSignal(QObject* parent = nullptr);
    ~QuitOnSignal() override;

    // True once a signal asked the program to end: start-up steps check it before going on.
    static bool requested();

  private:
    std::unique_ptr<SignalWatch> watch_;
};

} // namespace zantrel
