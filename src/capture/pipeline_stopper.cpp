#include "capture/pipeline_stopper.h"

#include <chrono>
#include <condition_variable>
#include <list>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <memory>
#include <mutex>
#include <thread>

namespace zantrel {

namespace {

// How long the end of the program waits for cameras still stopping.
constexpr int kExitWaitMs = 3000;

// A camera's frames and decoders are allocated by its streaming threads, each from a malloc arena of its
// own, where what a stopped camera freed stays: without this, every reconnect of a camera left RSS
// higher.
void ReturnFreedMemory() {
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}

struct Stop {
    std::thread thread;
    bool done = false;
};

// Shared with the threads: one that still hangs when the program ends keeps it alive.
struct StopState {
    std::mutex mutex;
    std::condition_variable changed;
    std::list<Stop> stops; // a list: each thread marks its own entry

    // Called with mutex held; a thread marked done has nothing left but to return.
    void joinDone() {
        for (auto it = stops.begin(); it != stops.end();) {
            if (it->done && it->thread.joinable()) {
                it->thread.join();
                it = stops.erase(it);
            } else {
                ++it;
            }
        }
    }
};

class StopThreads {
  public:
    static StopThreads& instance() {
        static StopThreads threads;
        return threads;
    }
    ~StopThreads() { finish(kExitWaitMs); }

    void start(gst::ElementPtr pipeline, int waitMs) {
        std::unique_lock lock(state_->mutex);
        state_->joinDone();
        Stop& stop = state_->stops.emplace_back();
        stop.thread = std::thread([state = state_, &stop, pipeline = std::move(pipeline)]() mutable {
            gst_element_set_state(pipeline.get(), GST_STATE_NULL);
            pipeline.reset();
            ReturnFreedMemory();
            std::lock_guard done(state->mutex);
            stop.done = true;
            state->changed.notify_all();
        });
        if (waitMs > 0)
            state_->changed.wait_for(lock, std::chrono::milliseconds(waitMs), [&stop] { return stop.done; });
    }

    // Waits up to waitMs for every stop still running; true when none is left.
    bool finish(int waitMs) {
        std::unique_lock lock(state_->mutex);
        const auto allDone = [this] {
            for (const Stop& stop : state_->stops)
                if (!stop.done)
                    return false;
            return true;
        };
        const bool done = state_->changed.wait_for(lock, std::chrono::milliseconds(waitMs), allDone);
        state_->joinDone();
        if (!done)
            for (Stop& stop : state_->stops)
                if (stop.thread.joinable())
                    stop.thread.detach(); // left to the end of the process
        return done;
    }

  private:
    std::shared_ptr<StopState> state_ = std::make_shared<StopState>();
};

} // namespace

void StopPipeline(gst::ElementPtr pipeline, int waitMs) {
    StopThreads::instance().start(std::move(pipeline), waitMs);
}

} // namespace zantrel
