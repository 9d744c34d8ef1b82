#include "liveview/live_view.h"

#include "capture/capture_window.h"
#include "capture/preview_rate.h"
#include "core/log_line.h"
#include "core/secret_value.h"
#include "core/setting_keys.h"
#include "core/sinks.h"
#include "core/store.h"
#include "imaging/jpeg_writer.h"
#include "liveview/host_names.h"
#include "liveview/tls_files.h"
#include "publish/job_runner.h"
#include "publish/run_control.h"

#include <QDate>
#include <QTime>
#include <QUuid>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <ifaddrs.h>
#include <netinet/in.h>

namespace zantrel {

namespace {

constexpr auto kSettingsCheck = std::chrono::seconds(1);

std::mutex problemMutex;
QString currentProblem; // why the live view asked for does not run

void setProblem(const QString& problem) {
    std::lock_guard lock(problemMutex);
    currentProblem = problem;
}

// The settings are read every second: the login's password is looked up again only when its stored value
// changes, or a minute after a refusal (a keyring unlocked meanwhile), so that a slow or locked keyring
// neither holds up the stream nor restarts the server at each reading. A password that cannot be had
// closes the live view behind one nobody knows, the same one at every reading, and is said once.
QString httpPassword(const QString& stored, const QString& user) {
    static std::mutex mutex;
    static QString lastStored, password;
    static std::chrono::steady_clock::time_point refusedAt;
    static const QString unknown = QUuid::createUuid().toString() + QUuid::createUuid().toString();
    const std::lock_guard lock(mutex);
    const auto now = std::chrono::steady_clock::now();
    if (stored == lastStored && !(password == unknown && now - refusedAt > std::chrono::minutes(1)))
        return password;
    const SecretLookup found = ResolveSecret(stored, {QString::fromLatin1(keys::HttpPassword.section),
                                                      QString::fromLatin1(keys::HttpPassword.key),
                                                      QStringLiteral("the live view"), user});
    if (!found.refusal.isEmpty() && !(stored == lastStored && password == unknown))
        qWarning("%s", qPrintable(found.refusal));
    lastStored = stored;
    password = found.refusal.isEmpty() ? found.value : unknown;
    refusedAt = now;
    return password;
}

} // namespace

QString LiveViewProblem() {
    std::lock_guard lock(problemMutex);
    return currentProblem;
}

QString OpenToNetworkWarning(const QHostAddress& bind) {
    return QStringLiteral("The live view on %1 is open to the network without a login: anyone there can "
                          "watch (set a user and a password)")
        .arg(bind.toString());
}

HttpServerConfig ReadHttpServerConfig() {
    HttpServerConfig c;
    c.bind = QHostAddress(GetSetting(keys::HttpBind).trimmed());
    if (c.bind.isNull())
        c.bind = QHostAddress(QString::fromLatin1(keys::HttpBind.fallback));
    const std::int32_t port = ReadInt32(keys::HttpPort);
    c.port = port > 0 && port < 65536 ? static_cast<quint16>(port) : 8080;
    c.streamClients = std::max(0, ReadInt32(keys::HttpClients));
    c.user = GetSetting(keys::HttpUser);
    c.password = httpPassword(GetSetting(keys::HttpPassword), c.user); // refused: closed, not open to all
    c.tls = !GetSetting(keys::HttpCert).trimmed().isEmpty() || !GetSetting(keys::HttpKey).trimmed().isEmpty();
    if (c.tls) {
        TlsFiles files = ReadTlsFiles(GetSetting(keys::HttpCert), GetSetting(keys::HttpKey));
        c.certPem = std::move(files.certPem);
        c.keyPem = std::move(files.keyPem);
        c.tlsProblem = std::move(files.problem);
    }
    c.hostNames = ParseHostList(GetSetting(keys::HttpHosts));
    return c;
}

QStringList LiveViewAddresses(const QString& bind, int port, bool tls) {
    const QString scheme = tls ? QStringLiteral("https://") : QStringLiteral("http://");
    const auto url = [&](QString host) {
        if (host.contains(QLatin1Char(':')))
            host = QLatin1Char('[') + host + QLatin1Char(']');
        return scheme + host + QLatin1Char(':') + QString::number(port) + QLatin1Char('/');
    };
    const QHostAddress address(bind.trimmed());
    if (address != QHostAddress::AnyIPv4 && address != QHostAddress::AnyIPv6)
        return {url(address.isNull() ? bind.trimmed() : address.toString())};
    QStringList all;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return all;
    for (const ifaddrs* i = list; i; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET)
            continue;
        char text[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr, text, sizeof text);
        all << url(QString::fromLatin1(text));
    }
    freeifaddrs(list);
    return all;
}

LiveView::LiveView(CaptureWindow& capture, JobRunner& jobs, RunControl& run, StatusSink& status,
                   QObject* parent)
    : QObject(parent), capture_(capture), jobs_(jobs), run_(run), status_(status) {
    observer_ = jobs.observeOutcomes([this](const PublishOutcome& outcome) {
        {
            std::lock_guard lock(mutex_);
            pending_ = outcome;
        }
        wake_.notify_one();
    });
    connect(&capture, &CaptureWindow::cameraLost, this, [this] { cameraState_ = QStringLiteral("lost"); });
    connect(&capture, &CaptureWindow::cameraRestored, this,
            [this] { cameraState_ = QStringLiteral("connected"); });
    connect(&stateTimer_, &QTimer::timeout, this, &LiveView::pushProgramState);
    connect(&run, &RunControl::jobFinished, this, &LiveView::pushProgramState);
    connect(&run, &RunControl::buttonsChanged, this, &LiveView::pushProgramState, Qt::QueuedConnection);
    stateTimer_.start(1000);
    pushProgramState();
    worker_ = std::thread([this] { work(); });
}

LiveView::~LiveView() {
    jobs_.forgetObserver(observer_); // a job still running must not hand its outcome to a view gone
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    worker_.join();
    setProblem({});
}

void LiveView::say(const QString& problem, const QString& warning) {
    setProblem(problem);
    state_.setWarnings(problem.isEmpty() ? QStringList() : QStringList{problem});
    for (const QString& text : {problem, warning}) {
        if (text.isEmpty())
            continue;
        LogLine(problem == text ? LogPriority::Error : LogPriority::Warning, OneLine(text));
        status_.setStatus(problem == text ? QStringLiteral("Error:") + text : text);
    }
}

void LiveView::pushProgramState() {
    if (capture_.connected())
        cameraState_ = QStringLiteral("connected");
    else if (cameraState_ != QStringLiteral("lost"))
        cameraState_ = QStringLiteral("none");
    state_.setCamera(cameraState_, capture_.connected() ? capture_.GetDriverName(ReadInt32(keys::VfwIndex))
                                   : cameraState_ == QLatin1String("lost") ? capture_.lostCameraName()
                                                                           : QString());
    if (run_.jobRunning())
        return; // the schedule's timer rests while a job runs; the next update is known after it
    std::optional<QDateTime> next;
    if (run_.timerActive()) {
        const NextUpdate n = run_.nextUpdate();
        next = QDateTime(QDate(n.year, n.month, n.day), QTime(n.hour, n.minute, n.second));
    }
    state_.setSchedule(next);
}

void LiveView::absorb(const PublishOutcome& outcome) {
    const QDateTime now = QDateTime::currentDateTimeUtc();
    if (!outcome.image.isEmpty())
        state_.setImage(outcome.image, now);
    state_.noteUploads(outcome.uploadedEntries, now);
}

void LiveView::encodeFrame() {
    const QImage frame = capture_.liveFrame();
    // Nothing new: the clients keep the frame they have; a first client after none gets the newest
    // there is, even while the camera sends nothing.
    if (frame.isNull() || (frame.cacheKey() == lastFrameKey_ && feed_.hasFrame()))
        return;
    lastFrameKey_ = frame.cacheKey();
    const QByteArray jpeg = encoder_.encode(frame, quality_);
    if (!jpeg.isEmpty())
        feed_.publish(jpeg);
}

void LiveView::work() {
    using Clock = std::chrono::steady_clock;
    LiveHttpServer server(state_, feed_);
    std::optional<HttpServerConfig> asked; // what the settings asked for when last read
    bool serving = false;
    std::chrono::milliseconds frameInterval{83};
    auto settingsDue = Clock::now();
    auto frameDue = Clock::now();
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        auto until = settingsDue;
        if (serving && feed_.clients() > 0)
            until = std::min(until, frameDue);
        wake_.wait_until(lock, until, [this] { return stopping_ || pending_; });
        if (stopping_)
            break;
        std::optional<PublishOutcome> outcome;
        outcome.swap(pending_);
        lock.unlock();

        if (outcome)
            absorb(*outcome);
        const auto now = Clock::now();
        if (now >= settingsDue) {
            settingsDue = now + kSettingsCheck;
            std::optional<HttpServerConfig> wanted;
            if (ReadFlag(keys::HttpEnable))
                wanted = ReadHttpServerConfig();
            // A server that failed to start is tried again once the settings change.
            // The stream's rate and quality follow the settings at the same pace; no reads per frame.
            // Without a preview limit: the camera's own rate, up to 30 frames a second.
            frameInterval = std::chrono::milliseconds(std::max(PreviewIntervalMs(ReadPreviewRate()), 33));
            quality_ = 100 - ReadInt32(keys::ImageCompression);
            if (wanted != asked) {
                asked = wanted;
                server.stop();
                serving = false;
                QString error;
                if (wanted && !(serving = server.start(*wanted, &error)))
                    say(error, {});
                else
                    say({},
                        serving && wanted->openToNetwork() ? OpenToNetworkWarning(wanted->bind) : QString());
            }
        }
        capture_.setStreamWatched(serving && feed_.clients() > 0);
        if (serving && feed_.clients() > 0 && now >= frameDue) {
            encodeFrame();
            frameDue = std::max(frameDue + frameInterval, now);
        }
        lock.lock();
    }
    lock.unlock();
    server.stop();
}

} // namespace zantrel
