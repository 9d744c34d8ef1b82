#pragma once

#include "imaging/stamp.h"

#include <mutex>
#include <optional>

namespace zantrel {

// The stamp layout (positions, colours, free text, transparency, background) and the JPEG compression
// as the settings dialog currently shows them. The dialog writes its unconfirmed edits here, so a job
// that runs while the dialog is open uses what the user sees; without edits every snapshot reads the
// settings afresh, so a hand-edited settings file takes effect at the next job. The switches that say
// which stamps to print are read from the settings by the job itself. Thread-safe.
class LiveValues {
  public:
    struct Values {
        StampParams stamp;
        int compression = 50;  // percent; JPEG quality is 100 minus this
        QString logoFile;      // empty: no logo
        int logoSize = 10;     // percent of the picture's height
        int valueMaxAge = 600; // seconds
    };

    static LiveValues& instance();

    Values snapshot();
    // Unconfirmed edits: they win over the settings until reset().
    void set(const Values& values);
    // Forgets the edits (the dialog was confirmed or cancelled).
    void reset();

    static Values fromSettings();

  private:
    std::mutex mutex_;
    std::optional<Values> edits_;
};

} // namespace zantrel
