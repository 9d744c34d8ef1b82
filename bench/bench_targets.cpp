// targets: 2 MB delivered by the program's WebDAV target (apache2 over HTTPS, ATOMIC: PUT of the
// ".part" and MOVE) and S3 target (the signing test store), each against one plain libcurl PUT of the
// same bytes to the same server on a fresh handle; prints the medians and their ratio.
#include "bench.h"
#include "core/sinks.h"
#include "support/http_test_servers.h"
#include "transfer/upload_target.h"

#include <QCryptographicHash>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <curl/curl.h>
#include <memory>
#include <vector>

namespace {

constexpr int kRuns = 15;

struct Body {
    const QByteArray* bytes;
    qsizetype sent = 0;
};

size_t readBody(char* out, size_t size, size_t count, void* data) {
    auto& b = *static_cast<Body*>(data);
    const auto n = std::min<qsizetype>(static_cast<qsizetype>(size * count), b.bytes->size() - b.sent);
    std::memcpy(out, b.bytes->constData() + b.sent, static_cast<size_t>(n));
    b.sent += n;
    return static_cast<size_t>(n);
}

size_t discard(char*, size_t size, size_t count, void*) {
    return size * count;
}

// One PUT as an application would write it with libcurl; true on a 2xx answer.
bool plainPut(const QByteArray& url, const zantrel::test::HttpServerFixture& server, const QByteArray& bytes,
              bool s3) {
    std::unique_ptr<CURL, void (*)(CURL*)> h(curl_easy_init(), &curl_easy_cleanup);
    Body body{&bytes};
    const QByteArray user = server.user().toUtf8(), password = server.password().toUtf8(),
                     pin = server.pin().toLatin1();
    curl_easy_setopt(h.get(), CURLOPT_URL, url.constData());
    curl_easy_setopt(h.get(), CURLOPT_USERNAME, user.constData());
    curl_easy_setopt(h.get(), CURLOPT_PASSWORD, password.constData());
    curl_easy_setopt(h.get(), CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(h.get(), CURLOPT_READFUNCTION, &readBody);
    curl_easy_setopt(h.get(), CURLOPT_READDATA, &body);
    curl_easy_setopt(h.get(), CURLOPT_WRITEFUNCTION, &discard);
    curl_easy_setopt(h.get(), CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(bytes.size()));
    curl_easy_setopt(h.get(), CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(h.get(), CURLOPT_SSL_VERIFYHOST, 0L);
    if (!pin.isEmpty())
        curl_easy_setopt(h.get(), CURLOPT_PINNEDPUBLICKEY, pin.constData());
    QByteArray hash;
    curl_slist* headers = nullptr;
    if (s3) {
        hash = "x-amz-content-sha256: " + QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
        headers = curl_slist_append(headers, hash.constData());
        curl_easy_setopt(h.get(), CURLOPT_AWS_SIGV4, "aws:amz:us-east-1:s3");
    }
    curl_easy_setopt(h.get(), CURLOPT_HTTPHEADER, headers);
    long status = 0;
    const bool ok = curl_easy_perform(h.get()) == CURLE_OK &&
                    curl_easy_getinfo(h.get(), CURLINFO_RESPONSE_CODE, &status) == CURLE_OK &&
                    status / 100 == 2;
    curl_slist_free_all(headers);
    return ok;
}

int runTargets() {
    const QByteArray bytes(2 * 1024 * 1024, 'x');
    int failed = 0;
    zantrel::test::ApacheDavServer dav(true);
    zantrel::test::S3Server s3;
    const struct {
        const char* label;
        zantrel::test::HttpServerFixture& server;
        QByteArray url; // of the plain PUT
    } cases[] = {{"davs2MB", dav, QByteArray("https://127.0.0.1:%1/dav/theirs.jpg")},
                 {"s3 2MB", s3, QByteArray("http://127.0.0.1:%1/cam/theirs.jpg")}};
    for (const auto& c : cases) {
        if (!c.server.isRunning()) {
            std::fprintf(stderr, "targets %s: %s\n", c.label, qPrintable(c.server.failure()));
            ++failed;
            continue;
        }
        zantrel::ServerEntry entry;
        entry.address = c.server.address();
        entry.port = c.server.port();
        entry.login = c.server.user();
        entry.password = c.server.password();
        entry.pinnedKey = c.server.pin();
        const QByteArray url = QString::fromLatin1(c.url).arg(c.server.port()).toLatin1();
        std::vector<double> ours, theirs;
        bool ok = true;
        for (int run = 0; run < kRuns; ++run) {
            ours.push_back(zantrel::bench::timeMs([&] {
                zantrel::NullStatusSink sink;
                QString refusal;
                const auto target = zantrel::MakeUploadTarget(entry, sink, refusal);
                ok = target && target->deliver(bytes, QStringLiteral("ours.jpg"), {}).uploaded && ok;
            }));
            theirs.push_back(
                zantrel::bench::timeMs([&] { ok = plainPut(url, c.server, bytes, &c.server == &s3) && ok; }));
        }
        const double o = zantrel::bench::median(ours), t = zantrel::bench::median(theirs);
        std::printf("targets %s ratio=%.2f ours_ms=%.1f libcurl_ms=%.1f%s\n", c.label, t > 0 ? o / t : 0.0, o,
                    t, ok ? "" : " (failed)");
        failed += !ok;
    }
    return failed ? 1 : 0;
}

const zantrel::bench::Register reg("targets", &runTargets);

} // namespace
