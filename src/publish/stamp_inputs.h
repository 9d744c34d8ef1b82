#pragma once

#include "imaging/stamp.h"
#include "imaging/stamp_values.h"
#include "publish/live_values.h"

#include <mutex>

namespace zantrel {

// What a stamp needs besides its layout, gathered at each job: the template's context (the clock, the
// host, the place for sunrise and sunset, live values from files and fetched addresses) and the logo.
// Remembers what went wrong, so each trouble is said once when it starts and once when it is over.
// Thread-safe; the job uses instance(), a preview its own.
class StampInputs {
  public:
    static StampInputs& instance();
    explicit StampInputs(StampValueReader::FetchedLookup fetched = {});

    // Completes `stamp` for a frame of frameHeight rows at `now`: expands its free text now (the values
    // are read once per job) and sets the logo. Returns what to tell the user.
    QStringList prepare(StampParams& stamp, const LiveValues::Values& live, int frameHeight,
                        const QDateTime& now);
    // Where fetched addresses' values come from (the fetching service sets it).
    void setFetched(StampValueReader::FetchedLookup fetched);
    // The last answer fetched for an address, if any (for a preview's own inputs).
    std::optional<FetchedValue> fetched(const QString& address);

  private:
    std::mutex mutex_;
    StampValueReader::FetchedLookup fetched_;
    StampValueReader reader_;
    StampLogo logo_;
    QString logoTrouble_;
};

} // namespace zantrel
