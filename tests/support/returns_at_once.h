#pragma once

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>

namespace zantrel::test {

// Runs call, which opens a dialog, and tells whether it returned before the event loop ran again, as
// it must for screen readers and UI automation to get an answer while the dialog is open. A call that
// runs a loop of its own sees its modal windows closed by a timer, so the test fails instead of hanging.
// A single pass over the pending events (Qt makes one while showing a splash screen) is no loop.
inline bool ReturnsAtOnce(const std::function<void()>& call) {
    auto returned = std::make_shared<bool>(false);
    auto ticks = std::make_shared<int>(0);
    auto* guard = new QTimer(qApp);
    QObject::connect(guard, &QTimer::timeout, guard, [guard, returned, ticks] {
        if (*returned)
            return guard->deleteLater();
        if (++*ticks > 1)
            if (QWidget* modal = QApplication::activeModalWidget())
                modal->close();
    });
    guard->start(20);
    call();
    *returned = true;
    return *ticks <= 1;
}

} // namespace zantrel::test
