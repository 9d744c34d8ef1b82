#include "stampdata/url_values.h"

#include "core/curl_global.h"
#include "core/setting_keys.h"
#include "core/store.h"
#include "core/version.h"
#include "publish/stamp_inputs.h"

#include <QRegularExpression>
#include <QUrl>
#include <algorithm>

namespace zantrel {

namespace {

struct Transfer {
    QByteArray body;
    bool cut = false;
    const std::function<bool()>* cancelled = nullptr;
};

size_t keep(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const qsizetype room = kStampValueBytes - t->body.size();
    const qsizetype got = qsizetype(size * count);
    t->body.append(data, std::min(room, got));
    if (got > room) {
        t->cut = true;
        return 0; // the rest is not read
    }
    return size * count;
}

int progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto* t = static_cast<Transfer*>(user);
    return t->cancelled && *t->cancelled && (*t->cancelled)() ? 1 : 0;
}

} // namespace

FetchedValue FetchStampValue(const QString& address, std::chrono::milliseconds timeout,
                             const std::function<bool()>& cancelled) {
    FetchedValue v;
    const QUrl url(address.trimmed());
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        v.problem = QStringLiteral("%1 is no http or https address").arg(address);
        return v;
    }
    CurlHandle h = NewCurlHandle();
    if (!h) {
        v.problem = QStringLiteral("libcurl could not start");
        return v;
    }
    Transfer t;
    t.cancelled = &cancelled;
    const QByteArray bytes = url.toEncoded();
    CURL* c = h.get();
    curl_easy_setopt(c, CURLOPT_URL, bytes.constData());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, long(timeout.count()));
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, long(timeout.count()));
    curl_easy_setopt(c, CURLOPT_USERAGENT, qPrintable(applicationTitle()));
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &keep);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, &progress);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, &t);
    const CURLcode rc = curl_easy_perform(c);
    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    if (rc != CURLE_OK && !(rc == CURLE_WRITE_ERROR && t.cut)) {
        v.problem = QStringLiteral("%1: %2").arg(url.toDisplayString(QUrl::RemoveUserInfo),
                                                 QString::fromUtf8(curl_easy_strerror(rc)));
    } else if (status >= 300 && status < 400) {
        v.problem = QStringLiteral("%1 answers with a redirect, not followed")
                        .arg(url.toDisplayString(QUrl::RemoveUserInfo));
    } else if (status != 200) {
        v.problem =
            QStringLiteral("%1 answers HTTP %2").arg(url.toDisplayString(QUrl::RemoveUserInfo)).arg(status);
    } else {
        v.body = t.body;
        v.fetched = QDateTime::currentDateTime();
    }
    return v;
}

QStringList StampTextAddresses(const QString& text) {
    static const QRegularExpression code(QStringLiteral("\\{url:([^}]*)\\}"));
    QStringList out;
    for (const QRegularExpressionMatch& m : code.globalMatch(text)) {
        const QString argument = m.captured(1);
        const QString address = ParseStampValueAddress(argument, argument.contains(QLatin1String("#/"))).path;
        if (!out.contains(address))
            out << address;
    }
    return out;
}

std::chrono::seconds StampUrlInterval() {
    bool ok = false;
    const int seconds = GetSetting(keys::ImageUrlInterval).trimmed().toInt(&ok);
    return std::chrono::seconds(ok ? std::clamp(seconds, kStampUrlIntervalMin, kStampUrlIntervalMax)
                                   : QByteArray(keys::ImageUrlInterval.fallback).toInt());
}

StampUrlFetcher::StampUrlFetcher(StampInputs& inputs) : StampUrlFetcher(inputs, Options{}) {}

StampUrlFetcher::StampUrlFetcher(StampInputs& inputs, Options options)
    : inputs_(inputs), options_(std::move(options)) {
    if (!options_.text)
        options_.text = [] { return GetSetting(keys::ImageTextString); };
    if (!options_.interval)
        options_.interval = [] { return std::chrono::milliseconds(StampUrlInterval()); };
    inputs_.setFetched([this](const QString& address) { return lookup(address); });
    worker_ = std::jthread([this](std::stop_token stop) { run(std::move(stop)); });
}

StampUrlFetcher::~StampUrlFetcher() {
    inputs_.setFetched({}); // waits for a job reading the answers
    worker_.request_stop();
    wake_.notify_all();
    if (worker_.joinable())
        worker_.join();
}

std::optional<FetchedValue> StampUrlFetcher::lookup(const QString& address) const {
    std::lock_guard lock(mutex_);
    const auto it = values_.find(address);
    return it == values_.end() ? std::nullopt : std::optional<FetchedValue>(it->second);
}

int StampUrlFetcher::rounds() const {
    std::lock_guard lock(mutex_);
    return rounds_;
}

bool StampUrlFetcher::waitForFirstRound(std::chrono::milliseconds bound) const {
    std::unique_lock lock(mutex_);
    return roundEnded_.wait_for(lock, bound, [this] { return rounds_ > 0; });
}

void StampUrlFetcher::run(std::stop_token stop) {
    const std::function<bool()> cancelled = [&stop] { return stop.stop_requested(); };
    while (!stop.stop_requested()) {
        const QStringList addresses = StampTextAddresses(options_.text());
        for (const QString& address : addresses) {
            if (stop.stop_requested())
                return;
            FetchedValue got = FetchStampValue(address, options_.timeout, cancelled);
            std::lock_guard lock(mutex_);
            FetchedValue& kept = values_[address];
            if (got.fetched.isValid())
                kept = std::move(got);
            else
                kept.problem = got.problem; // the last good answer stays until it is too old
        }
        {
            std::lock_guard lock(mutex_);
            for (auto it = values_.begin(); it != values_.end();)
                it = addresses.contains(it->first) ? std::next(it) : values_.erase(it);
            ++rounds_;
        }
        roundEnded_.notify_all();
        const auto roundEnded = std::chrono::steady_clock::now();
        while (!stop.stop_requested()) {
            const auto left = roundEnded + options_.interval() - std::chrono::steady_clock::now();
            if (left <= left.zero())
                break;
            {
                std::unique_lock lock(mutex_);
                wake_.wait_for(lock, stop,
                               std::min<std::chrono::steady_clock::duration>(left, std::chrono::seconds(1)),
                               [] { return false; });
            }
            const QStringList named = StampTextAddresses(options_.text());
            std::lock_guard lock(mutex_);
            if (std::any_of(named.begin(), named.end(),
                            [this](const QString& a) { return !values_.contains(a); }))
                break; // an address named anew is fetched now, not at the end of the interval
        }
    }
}

} // namespace zantrel
