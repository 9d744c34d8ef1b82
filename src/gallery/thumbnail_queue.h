#pragma once

#include "gallery/thumbnail_maker.h"

#include <mutex>
#include <optional>
#include <vector>

namespace zantrel {

// The work list shared by the user-interface thread and the decoding threads of one gallery fill.
// Rows on screen that lack a picture come first, then the fill's next row in file order; each row is
// handed out once unless it is asked for again after its picture was dropped. Thread-safe.
class ThumbnailQueue {
  public:
    struct Task {
        int row;
        bool wantImage;
    };

    static constexpr int kFirstBand = 256;

    explicit ThumbnailQueue(int rows);

    // Decoding threads: the next task (nullopt when there is none, which also counts the caller as
    // gone), and its result.
    std::optional<Task> take();
    void finish(ThumbnailResult result);

    // User-interface thread.
    // Rows on screen without a picture, best first; replaces what was asked before.
    void setUrgent(std::vector<int> rows);
    // Rows whose pictures are worth keeping in memory.
    void setBand(int first, int last);
    void stopFill();
    void stopAll();
    std::vector<ThumbnailResult> drain();
    // How many more threads to start so that `threads` work; counts them as started.
    int claimWorkers(int threads);
    // True while tasks wait or run, or results wait to be drained.
    bool busy() const;

  private:
    bool inBandLocked(int row) const { return row >= bandFirst_ && row <= bandLast_; }

    mutable std::mutex mutex_;
    std::vector<char> claimed_;
    std::vector<char> pending_; // taken, and the result not yet drained
    std::vector<int> urgent_;   // reversed: best last
    std::vector<ThumbnailResult> done_;
    int fillNext_ = 0;
    bool filling_ = true;
    int bandFirst_ = 0;
    int bandLast_ = kFirstBand - 1; // until the view tells where it is
    int workers_ = 0;
    int inFlight_ = 0;
};

} // namespace zantrel
