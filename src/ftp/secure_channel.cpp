#include "ftp/secure_channel.h"

#include <QCryptographicHash>
#include <QDir>
#include <memory>

namespace zantrel {

namespace {

// One DER element at pos: its tag, and where its content starts and ends. False when malformed.
bool readElement(const QByteArray& der, int pos, int& tag, int& content, int& end) {
    if (pos + 2 > der.size())
        return false;
    tag = static_cast<quint8>(der[pos]);
    int length = static_cast<quint8>(der[pos + 1]);
    content = pos + 2;
    if (length & 0x80) {
        const int bytes = length & 0x7f;
        if (bytes < 1 || bytes > 3 || content + bytes > der.size())
            return false;
        length = 0;
        for (int i = 0; i < bytes; ++i)
            length = (length << 8) | static_cast<quint8>(der[content++]);
    }
    end = content + length;
    return end <= der.size();
}

QByteArray subjectPublicKeyInfo(const QByteArray& der) {
    int tag = 0, content = 0, end = 0;
    // Certificate ::= SEQUENCE { tbsCertificate SEQUENCE { [0] version?, serial, signature, issuer,
    // validity, subject, subjectPublicKeyInfo, ... }, ... }
    if (!readElement(der, 0, tag, content, end) || tag != 0x30)
        return {};
    if (!readElement(der, content, tag, content, end) || tag != 0x30)
        return {};
    int pos = content;
    if (!readElement(der, pos, tag, content, end))
        return {};
    if (tag == 0xa0)
        pos = end;
    for (int skip = 0; skip < 5; ++skip) { // serial, signature, issuer, validity, subject
        if (!readElement(der, pos, tag, content, end))
            return {};
        pos = end;
    }
    if (!readElement(der, pos, tag, content, end) || tag != 0x30)
        return {};
    return der.mid(pos, end - pos);
}

QString sshKeyType(curl_khtype type) {
    switch (type) {
    case CURLKHTYPE_RSA1:
    case CURLKHTYPE_RSA:
        return QStringLiteral("ssh-rsa");
    case CURLKHTYPE_DSS:
        return QStringLiteral("ssh-dss");
    case CURLKHTYPE_ECDSA:
        return QStringLiteral("ecdsa-sha2-nistp256");
    case CURLKHTYPE_ED25519:
        return QStringLiteral("ssh-ed25519");
    default:
        return QStringLiteral("unknown");
    }
}

// Opens a TLS session without trusting it and without logging in, to read the certificate's pin.
QString peekCertificatePin(const QByteArray& url, std::chrono::milliseconds connectLimit) {
    std::unique_ptr<CURL, void (*)(CURL*)> h(curl_easy_init(), &curl_easy_cleanup);
    if (!h)
        return {};
    curl_easy_setopt(h.get(), CURLOPT_URL, url.constData());
    curl_easy_setopt(h.get(), CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h.get(), CURLOPT_NOBODY, 1L);
    curl_easy_setopt(h.get(), CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
    curl_easy_setopt(h.get(), CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(h.get(), CURLOPT_SSL_VERIFYHOST, 0L);
    curl_easy_setopt(h.get(), CURLOPT_CERTINFO, 1L);
    // A pin nothing matches: the session ends right after the handshake, before any login.
    curl_easy_setopt(h.get(), CURLOPT_PINNEDPUBLICKEY,
                     "sha256//AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=");
    curl_easy_setopt(h.get(), CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(connectLimit.count()));
    curl_easy_setopt(h.get(), CURLOPT_FTP_RESPONSE_TIMEOUT, 10L);
    curl_easy_perform(h.get());
    SecureChannel probe({}, {});
    probe.collect(h.get());
    return probe.fingerprint();
}

} // namespace

QString CertificatePin(const QByteArray& pem) {
    QByteArray body = pem;
    const int begin = body.indexOf("-----BEGIN CERTIFICATE-----");
    const int stop = body.indexOf("-----END CERTIFICATE-----");
    if (begin < 0 || stop < begin)
        return {};
    body = body.mid(begin + 27, stop - begin - 27);
    const QByteArray spki = subjectPublicKeyInfo(QByteArray::fromBase64(body));
    if (spki.isEmpty())
        return {};
    return QStringLiteral("sha256//") +
           QString::fromLatin1(QCryptographicHash::hash(spki, QCryptographicHash::Sha256).toBase64());
}

SecureChannel::SecureChannel(const ServerAddress& address, const FtpServerEntry& entry)
    : address_(address), entry_(entry), user_(entry.login.toUtf8()), password_(entry.password.toUtf8()),
      pinned_(entry.pinnedKey.trimmed().toLatin1()),
      keyFile_(QDir::fromNativeSeparators(entry.keyFile).toUtf8()),
      knownHosts_(QDir::home().filePath(QStringLiteral(".ssh/known_hosts")).toUtf8()) {}

void SecureChannel::apply(CURL* h) {
    curl_easy_setopt(h, CURLOPT_USERNAME, user_.constData());
    curl_easy_setopt(h, CURLOPT_PASSWORD, password_.constData());
    switch (address_.transport) {
    case Transport::Ftp:
        break;
    case Transport::Ftps:
        curl_easy_setopt(h, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
        curl_easy_setopt(h, CURLOPT_CERTINFO, 1L);
        if (!pinned_.isEmpty()) {
            // Trust exactly the stored key, whoever signed it.
            curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 0L);
            curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 0L);
            curl_easy_setopt(h, CURLOPT_PINNEDPUBLICKEY, pinned_.constData());
        }
        break;
    case Transport::Sftp:
        curl_easy_setopt(h, CURLOPT_SSH_KNOWNHOSTS, knownHosts_.constData());
        curl_easy_setopt(h, CURLOPT_SSH_KEYFUNCTION, &SecureChannel::checkHostKey);
        curl_easy_setopt(h, CURLOPT_SSH_KEYDATA, this);
        if (!keyFile_.isEmpty()) {
            curl_easy_setopt(h, CURLOPT_SSH_PRIVATE_KEYFILE, keyFile_.constData());
            curl_easy_setopt(h, CURLOPT_KEYPASSWD, password_.constData());
            curl_easy_setopt(h, CURLOPT_SSH_AUTH_TYPES, static_cast<long>(CURLSSH_AUTH_PUBLICKEY));
        } else {
            curl_easy_setopt(h, CURLOPT_SSH_AUTH_TYPES,
                             static_cast<long>(CURLSSH_AUTH_PASSWORD | CURLSSH_AUTH_KEYBOARD));
        }
        break;
    }
}

void SecureChannel::collect(CURL* h) {
    curl_certinfo* info = nullptr;
    if (curl_easy_getinfo(h, CURLINFO_CERTINFO, &info) != CURLE_OK || !info || info->num_of_certs < 1)
        return;
    for (curl_slist* field = info->certinfo[0]; field; field = field->next) {
        const QByteArray text(field->data);
        if (text.startsWith("Cert:")) {
            const QString pin = CertificatePin(text.mid(5));
            if (!pin.isEmpty())
                fingerprint_ = pin;
        }
    }
}

int SecureChannel::checkHostKey(CURL*, const curl_khkey*, const curl_khkey* found, curl_khmatch match,
                                void* self) {
    auto& me = *static_cast<SecureChannel*>(self);
    if (found) {
        const QByteArray raw = found->len ? QByteArray(found->key, static_cast<int>(found->len))
                                          : QByteArray::fromBase64(QByteArray(found->key));
        QByteArray hash = QCryptographicHash::hash(raw, QCryptographicHash::Sha256).toBase64();
        while (hash.endsWith('='))
            hash.chop(1);
        me.fingerprint_ = QStringLiteral("SHA256:") + QString::fromLatin1(hash);
        me.keyType_ = sshKeyType(found->keytype);
    }
    me.hostKeyMatch_ = match;
    return match == CURLKHMATCH_OK ? CURLKHSTAT_FINE : CURLKHSTAT_REJECT;
}

QString SecureChannel::refusal(CURLcode code, std::chrono::milliseconds connectLimit) {
    const QString host = address_.host;
    if (address_.transport == Transport::Sftp && hostKeyMatch_ != CURLKHMATCH_OK && !fingerprint_.isEmpty()) {
        if (hostKeyMatch_ == CURLKHMATCH_MISMATCH)
            return QStringLiteral("The host key of %1 has changed: it is now %2 %3, not the one in "
                                  "~/.ssh/known_hosts")
                .arg(host, keyType_, fingerprint_);
        return QStringLiteral("The host key of %1 is not known (%2 %3). To trust it, run: ssh-keyscan -p %4 "
                              "%1 >> ~/.ssh/known_hosts")
            .arg(host, keyType_, fingerprint_)
            .arg(address_.port);
    }
    if (address_.transport != Transport::Ftps)
        return {};
    if (code == CURLE_PEER_FAILED_VERIFICATION) {
        QString error;
        const QString pin = peekCertificatePin(BaseUrl(address_, error), connectLimit);
        if (!pin.isEmpty())
            fingerprint_ = pin;
        return QStringLiteral("The certificate of %1 is not trusted by this system. To trust exactly this "
                              "key, store its pin for the server: %2")
            .arg(host, pin.isEmpty() ? QStringLiteral("(not readable)") : pin);
    }
    if (code == CURLE_SSL_PINNEDPUBKEYNOTMATCH)
        return QStringLiteral("The certificate of %1 does not match the stored pin; it shows %2")
            .arg(host, fingerprint_.isEmpty() ? QStringLiteral("another key") : fingerprint_);
    return {};
}

} // namespace zantrel
