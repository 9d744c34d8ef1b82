#pragma once

#include "publish/live_values.h"
#include "transfer/target_pool.h"

#include <QByteArray>
#include <QDateTime>
#include <QImage>
#include <QString>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace zantrel {

class CaptureWindow;
class MessageSink;
class StatusSink;

// What one publishing job needs from the rest of the program.
struct PublishServices {
    std::function<void(QImage&)> grabFrame; // newest camera frame, or the test card
    StatusSink* status = nullptr;
    MessageSink* messages = nullptr;
    LiveValues* live = nullptr;
    std::function<void()> hangUp;    // hangs up dial-up connections
    std::function<bool()> cancelled; // true once the program is closing: contact no further server
    // The server list's targets, served at once (stopped with stop()), each within the limits.
    std::shared_ptr<TargetPool> targets = std::make_shared<TargetPool>();
    TransferLimits limits = {};
    std::function<QDateTime()> cameraLostSince = {}; // when the camera was lost; invalid while it is not
    std::function<QString()> cameraName = {};        // the lost camera's name
    // How long a job waits for its servers (none: until every one has ended). A server still at work
    // then goes on past the job, its texts telling how it ended, and the jobs after it skip that server
    // until it has: a server that never answers delays the schedule once per timeout instead of at
    // every job, while an ordinary picture reaches a working server well within the wait. On a
    // periodic schedule the wait ends within the job's interval, so the next job is on time.
    std::optional<std::chrono::milliseconds> targetWait = std::chrono::seconds(5);
    // A camera was chosen: the test card grabbed then stands in for that camera failing.
    std::function<bool()> cameraChosen = {};
};

struct PublishOutcome {
    bool workingFileWritten = false;
    bool archiveWritten = false;
    int serversTried = 0;
    int serversUploaded = 0;
    bool uploadsOn = false;
    bool hungUp = false;
    QByteArray image;                          // the picture the job encoded, the one the servers were sent
    std::vector<std::int32_t> uploadedEntries; // server entries (from 1) that received the image
    // One server entry's result in this job, in list order.
    struct TargetOutcome {
        std::int32_t entry = 0; // from 1
        QString label;          // the address without credentials
        bool delivered = false;
        QString reason;      // empty when delivered
        QString folder = {}; // the entry's folder on the server
        QString server = {}; // address, port, login and folder: the same for one entry from job to job
        // How long its transfer took; none when it never started or went on past the job's wait.
        std::optional<double> seconds = {};
    };
    std::vector<TargetOutcome> targets;
    // Valid while the chosen camera fails (lost, or the grab gave the test card): the job failed and
    // published the test card or, with VFW/WHENLOST 1, nothing.
    QDateTime cameraLostSince;
    QString cameraName;    // the failing camera's name
    bool testCard = false; // the picture published is the test card
    bool diskLow = false;  // the archive's free-space floor could not be met
    // The camera's picture, the working file written and every server that was tried received it.
    bool complete() const {
        return workingFileWritten && serversUploaded == serversTried && !cameraLostSince.isValid();
    }
};

// The program's services: frames from the camera, the program-wide live values, NetworkManager hang-up.
PublishServices ProgramServices(const CaptureWindow& capture, StatusSink& status, MessageSink& messages);

// The stamps of a job: layout and text from the live values, the switches read from the settings now.
StampParams JobStampParams(const LiveValues::Values& live);

// One pass of grab, stamp, working file, archive copy, uploads and hang-up. The test card is stamped below
// its caption and never archived (nor, while the chosen camera fails with VFW/WHENLOST 1, published). Every
// setting is read afresh; each step runs on whatever the previous one achieved. The servers (entries without
// an address are skipped) get the bytes just encoded, also when the working file could not be written; all at
// once, the job ending with the last of them or after targetWait. Blocks: run it off the UI thread.
PublishOutcome RunPublishJob(const PublishServices& services);

// Folder (the current one when empty) + "/" (unless the folder already ends with one) + DDMMYYYY +
// hhmmss + ".JPG".
QString ArchiveFileName(const QString& folder, const QDateTime& moment);

} // namespace zantrel
