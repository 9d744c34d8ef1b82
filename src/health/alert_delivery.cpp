#include "health/alert_delivery.h"

#include "core/curl_global.h"
#include "core/instance.h"
#include "core/secret_value.h"
#include "core/setting_keys.h"
#include "core/sinks.h"
#include "core/store.h"
#include "core/version.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSysInfo>
#include <QUrl>
#include <QUuid>
#include <algorithm>
#include <curl/curl.h>
#include <memory>

namespace zantrel {

namespace {

struct CurlDeleter {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
    void operator()(curl_mime* m) const { curl_mime_free(m); }
};

QJsonValue isoTime(const QDateTime& t) {
    return t.isValid() ? QJsonValue(t.toUTC().toString(Qt::ISODate)) : QJsonValue(QJsonValue::Null);
}

int stopWhenCancelled(void* cancelled, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto& c = *static_cast<const std::function<bool()>*>(cancelled);
    return c && c() ? 1 : 0;
}

size_t dropBody(char*, size_t size, size_t count, void*) {
    return size * count;
}

// The handle's common limits: the time bound in all, no signals, cancellable.
void bound(CURL* h, std::chrono::milliseconds limit, const std::function<bool()>& cancelled, char* errors) {
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(limit.count()));
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS,
                     static_cast<long>(std::min<std::int64_t>(limit.count(), 10000)));
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errors);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &stopWhenCancelled);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &cancelled);
}

QString failureText(CURLcode code, const char* errors) {
    return OneLine(QString::fromUtf8(errors[0] ? errors : curl_easy_strerror(code)));
}

// The message in full is in the mail's text; the subject keeps a line of a readable length.
QString subjectOf(const HealthEvent& e) {
    QString subject = OneLine(QStringLiteral("%1: %2").arg(InstanceTitle(), e.message));
    if (subject.size() > 160)
        subject = subject.left(157) + QStringLiteral("...");
    return subject;
}

// A header value as RFC 2047 wants non-ASCII text: encoded words of at most 75 characters each.
QByteArray headerText(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    if (std::all_of(utf8.begin(), utf8.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return utf8;
    QByteArrayList words;
    QByteArray chunk;
    const auto word = [&words, &chunk] { words << "=?UTF-8?B?" + chunk.toBase64() + "?="; };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const bool pair = text[i].isHighSurrogate() && i + 1 < text.size();
        const QByteArray character = text.mid(i, pair ? 2 : 1).toUtf8();
        i += pair ? 1 : 0;
        if (chunk.size() + character.size() > 45) {
            word();
            chunk.clear();
        }
        chunk += character;
    }
    word();
    return words.join(' ');
}

bool wellFormedPin(const QString& pin) {
    if (!pin.startsWith(QLatin1String("sha256//")))
        return false;
    const auto digest =
        QByteArray::fromBase64Encoding(pin.mid(8).toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    return digest && digest.decoded.size() == 32;
}

QStringList recipients(const QString& to) {
    QStringList all;
    for (const QString& part : to.split(QLatin1Char(','), Qt::SkipEmptyParts))
        if (!part.trimmed().isEmpty())
            all << part.trimmed();
    return all;
}

bool plainAddress(const QString& address) {
    for (const QChar c : address)
        if (c.unicode() <= 0x20 || c.unicode() == 0x7f || c == QLatin1Char('<') || c == QLatin1Char('>'))
            return false;
    return address.contains(QLatin1Char('@'));
}

// One delivery: the settings' problem when they have one; otherwise run gets a fresh handle and its
// error buffer, and returns why nothing was delivered (empty when it was).
DeliveryResult deliver(const QString& problem, const std::function<QString(CURL*, char* errors)>& run) {
    DeliveryResult result;
    result.error = problem;
    if (!result.error.isEmpty())
        return result;
    const CurlHandle handle = NewCurlHandle();
    if (!handle) {
        result.error = QStringLiteral("libcurl could not be started");
        return result;
    }
    char errors[CURL_ERROR_SIZE] = {};
    result.error = run(handle.get(), errors);
    result.ok = result.error.isEmpty();
    return result;
}

} // namespace

QByteArray AlertJson(const HealthEvent& e) {
    const QJsonObject body{
        {QStringLiteral("event"), e.event},
        {QStringLiteral("condition"), e.condition},
        {QStringLiteral("target"), e.target.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(e.target)},
        {QStringLiteral("since"), isoTime(e.since)},
        {QStringLiteral("last_success"), isoTime(e.lastSuccess)},
        {QStringLiteral("message"), e.message},
        {QStringLiteral("host"), QSysInfo::machineHostName()},
        {QStringLiteral("program"), InstanceTitle()}};
    return QJsonDocument(body).toJson(QJsonDocument::Compact);
}

QString WebhookProblem(const QString& url) {
    const QUrl u(url.trimmed(), QUrl::StrictMode);
    const QString scheme = u.scheme().toLower();
    if (!u.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return QStringLiteral("The hook's address must start with http:// or https://");
    if (u.host().isEmpty())
        return QStringLiteral("The hook's address names no host");
    return {};
}

DeliveryResult PostAlert(const QString& url, const QByteArray& json, std::chrono::milliseconds limit,
                         const std::function<bool()>& cancelled) {
    return deliver(WebhookProblem(url), [&](CURL* h, char* errors) {
        const QByteArray address = url.trimmed().toUtf8();
        curl_easy_setopt(h, CURLOPT_URL, address.constData());
        curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
        bound(h, limit, cancelled, errors);
        curl_slist* raw = curl_slist_append(nullptr, "Content-Type: application/json");
        // Services that show the text as it comes (ntfy) take the title from here.
        raw = curl_slist_append(raw, "Title: " + headerText(InstanceTitle()));
        std::unique_ptr<curl_slist, CurlDeleter> headers(raw);
        curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, json.constData());
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(json.size()));
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &dropBody);
        const CURLcode code = curl_easy_perform(h);
        long status = 0;
        curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
        if (code != CURLE_OK)
            return failureText(code, errors);
        if (status < 200 || status >= 300) // a redirect is not followed: nothing was delivered
            return QStringLiteral("The hook answered %1").arg(status);
        return QString();
    });
}

MailSettings ReadMailSettings() {
    const QString server = GetSetting(keys::AlertSmtp).trimmed(), login = GetSetting(keys::AlertSmtpLogin);
    const SecretLookup password =
        ResolveSecret(GetSetting(keys::AlertSmtpPassword),
                      {QString::fromLatin1(keys::AlertSmtpPassword.section),
                       QString::fromLatin1(keys::AlertSmtpPassword.key), QUrl(server).host(), login});
    return {GetSetting(keys::AlertMailTo).trimmed(),  server,          login, password.value, {},
            GetSetting(keys::AlertSmtpPin).trimmed(), password.refusal};
}

QString MailProblem(const MailSettings& mail) {
    const QUrl u(mail.server, QUrl::StrictMode);
    const QString scheme = u.scheme().toLower();
    if (!u.isValid() || (scheme != QLatin1String("smtps") && scheme != QLatin1String("smtp")) ||
        u.host().isEmpty() || !u.userInfo().isEmpty())
        return QStringLiteral("The mail server must be smtps://host:465 or smtp://host:587");
    const QStringList to = recipients(mail.to);
    if (to.isEmpty())
        return QStringLiteral("No address to mail to");
    for (const QString& address : to)
        if (!plainAddress(address))
            return QStringLiteral("%1 is not a mail address").arg(OneLine(address));
    if (!mail.passwordRefusal.isEmpty())
        return mail.passwordRefusal;
    if (mail.login.contains(QLatin1Char('\n')) || mail.password.contains(QLatin1Char('\n')))
        return QStringLiteral("The login or password holds a line break");
    if (!mail.pin.isEmpty() && !wellFormedPin(mail.pin))
        return QStringLiteral("The mail server's pin must read sha256// and the key's base64 digest");
    return {};
}

DeliveryResult SendAlertMail(const MailSettings& mail, const HealthEvent& e, const QByteArray& jpeg,
                             std::chrono::milliseconds limit, const std::function<bool()>& cancelled) {
    return deliver(MailProblem(mail), [&](CURL* h, char* errors) {
        const QUrl u(mail.server);
        const bool implicitTls = u.scheme().toLower() == QLatin1String("smtps");
        const QByteArray url = QStringLiteral("%1://%2:%3")
                                   .arg(implicitTls ? QStringLiteral("smtps") : QStringLiteral("smtp"),
                                        u.host(QUrl::FullyEncoded))
                                   .arg(u.port(implicitTls ? 465 : 587))
                                   .toUtf8();
        curl_easy_setopt(h, CURLOPT_URL, url.constData());
        curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, implicitTls ? "smtps" : "smtp");
        curl_easy_setopt(h, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
        const QByteArray ca = mail.caFile.toLocal8Bit();
        if (!ca.isEmpty())
            curl_easy_setopt(h, CURLOPT_CAINFO, ca.constData());
        const QByteArray pin = mail.pin.toLatin1();
        if (!pin.isEmpty()) { // a self-signed server: exactly the stored key, whoever signed it
            curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 0L);
            curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 0L);
            curl_easy_setopt(h, CURLOPT_PINNEDPUBLICKEY, pin.constData());
        }
        bound(h, limit, cancelled, errors);
        const QByteArray login = mail.login.toUtf8(), password = mail.password.toUtf8();
        if (!login.isEmpty()) {
            curl_easy_setopt(h, CURLOPT_USERNAME, login.constData());
            curl_easy_setopt(h, CURLOPT_PASSWORD, password.constData());
        }
        const QStringList to = recipients(mail.to);
        const QString from = mail.login.contains(QLatin1Char('@')) && plainAddress(mail.login)
                                 ? mail.login
                                 : QStringLiteral("webcam-zantrel@") + OneLine(QSysInfo::machineHostName());
        const QByteArray fromAngled = '<' + from.toUtf8() + '>';
        curl_easy_setopt(h, CURLOPT_MAIL_FROM, fromAngled.constData());
        curl_slist* rcpt = nullptr;
        for (const QString& address : to)
            rcpt = curl_slist_append(rcpt, ('<' + address.toUtf8() + '>').constData());
        std::unique_ptr<curl_slist, CurlDeleter> rcptList(rcpt);
        curl_easy_setopt(h, CURLOPT_MAIL_RCPT, rcpt);

        curl_slist* raw = nullptr;
        // Receivers refuse mail without a Message-ID; its right side is the sender's domain.
        const QByteArray messageId = '<' + QUuid::createUuid().toString(QUuid::WithoutBraces).toLatin1() +
                                     '@' + from.section(QLatin1Char('@'), -1).toUtf8() + '>';
        for (const QByteArray& line :
             {"From: " + from.toUtf8(), "To: " + to.join(QStringLiteral(", ")).toUtf8(),
              "Subject: " + headerText(subjectOf(e)),
              "Date: " + QDateTime::currentDateTime().toString(Qt::RFC2822Date).toLatin1(),
              "Message-ID: " + messageId})
            raw = curl_slist_append(raw, line.constData());
        std::unique_ptr<curl_slist, CurlDeleter> headers(raw);
        curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());

        std::unique_ptr<curl_mime, CurlDeleter> mime(curl_mime_init(h));
        const QByteArray text = (e.message + QStringLiteral("\r\n\r\n") + QString::fromUtf8(AlertJson(e)) +
                                 QStringLiteral("\r\n"))
                                    .toUtf8();
        curl_mimepart* part = curl_mime_addpart(mime.get());
        curl_mime_data(part, text.constData(), static_cast<size_t>(text.size()));
        curl_mime_type(part, "text/plain; charset=utf-8");
        curl_mime_encoder(part, "quoted-printable");
        if (!jpeg.isEmpty()) {
            part = curl_mime_addpart(mime.get());
            curl_mime_data(part, jpeg.constData(), static_cast<size_t>(jpeg.size()));
            curl_mime_type(part, "image/jpeg");
            curl_mime_filename(part, "webcam.jpg");
            curl_mime_encoder(part, "base64");
        }
        curl_easy_setopt(h, CURLOPT_MIMEPOST, mime.get());
        const CURLcode code = curl_easy_perform(h);
        return code == CURLE_OK ? QString() : failureText(code, errors);
    });
}

} // namespace zantrel
