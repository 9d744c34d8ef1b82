#pragma once

#include <thread>
#include <utility>

namespace zantrel::test {

// Runs fn on a thread of its own and waits for it, as the publishing job runs FTP off the
// user-interface thread.
template <typename F> void onWorker(F&& fn) {
    std::thread worker(std::forward<F>(fn));
    worker.join();
}

} // namespace zantrel::test
