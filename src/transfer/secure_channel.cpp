#include "transfer/secure_channel.h"

#include <QCryptographicHash>
#include <QDir>
#include <QtEndian>
#include <algorithm>
#include <memory>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

namespace zantrel {

namespace {

// The key's own type name, which its blob starts with (a length and the name); libcurl reports every
// ECDSA curve as one type.
QString sshKeyType(const QByteArray& blob, curl_khtype type) {
    if (blob.size() > 4) {
        const quint32 length = qFromBigEndian<quint32>(blob.constData());
        if (length > 0 && length <= 64 && length <= static_cast<quint32>(blob.size() - 4)) {
            const QByteArray name = blob.mid(4, static_cast<int>(length));
            if (std::all_of(name.begin(), name.end(), [](char c) { return c > 0x20 && c < 0x7f; }))
                return QString::fromLatin1(name);
        }
    }
    switch (type) {
    case CURLKHTYPE_RSA1:
    case CURLKHTYPE_RSA:
        return QStringLiteral("ssh-rsa");
    case CURLKHTYPE_DSS:
        return QStringLiteral("ssh-dss");
    case CURLKHTYPE_ECDSA:
        return QStringLiteral("ecdsa");
    case CURLKHTYPE_ED25519:
        return QStringLiteral("ssh-ed25519");
    default:
        return QStringLiteral("unknown");
    }
}

// TLS on the control and the data connections, from the greeting on when the address says so; only the
// one protocol the address names, and no redirects. tls13: for a server that refuses TLS 1.2.
void requireTls(CURL* h, const ServerAddress& address, bool tls13) {
    const char* protocol = ImplicitTls(address) ? "ftps" : "ftp";
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, protocol);
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, protocol);
    curl_easy_setopt(h, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
    // At most TLS 1.2 where the server takes it: under TLS 1.3 the server's session tickets are still
    // unread when the data connection of an upload closes, so it closes with a reset that can beat the
    // last data to the server, which then fails the upload (vsftpd: "426 Failure reading network
    // stream", every other upload; such a failure is tried again).
    curl_easy_setopt(
        h, CURLOPT_SSLVERSION,
        static_cast<long>(tls13 ? CURL_SSLVERSION_TLSv1_3 : CURL_SSLVERSION_TLSv1_2) |
            static_cast<long>(tls13 ? CURL_SSLVERSION_MAX_DEFAULT : CURL_SSLVERSION_MAX_TLSv1_2));
    curl_easy_setopt(h, CURLOPT_CERTINFO, 1L);
}

// Opens a TLS session without trusting it and without logging in, to read the certificate's pin.
QString peekCertificatePin(const ServerAddress& address, std::chrono::milliseconds connectLimit, bool tls13) {
    QString error;
    const QByteArray url = BaseUrl(address, error);
    std::unique_ptr<CURL, void (*)(CURL*)> h(curl_easy_init(), &curl_easy_cleanup);
    if (!h || url.isEmpty())
        return {};
    curl_easy_setopt(h.get(), CURLOPT_URL, url.constData());
    curl_easy_setopt(h.get(), CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h.get(), CURLOPT_NOBODY, 1L);
    requireTls(h.get(), address, tls13);
    curl_easy_setopt(h.get(), CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(h.get(), CURLOPT_SSL_VERIFYHOST, 0L);
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
    const std::unique_ptr<BIO, decltype(&BIO_free)> in(
        BIO_new_mem_buf(pem.constData(), static_cast<int>(pem.size())), &BIO_free);
    if (!in)
        return {};
    const std::unique_ptr<X509, decltype(&X509_free)> cert(
        PEM_read_bio_X509(in.get(), nullptr, nullptr, nullptr), &X509_free);
    EVP_PKEY* key = cert ? X509_get0_pubkey(cert.get()) : nullptr; // owned by the certificate
    const int length = key ? i2d_PUBKEY(key, nullptr) : 0;
    if (length <= 0) {
        ERR_clear_error(); // libcurl reads this thread's OpenSSL errors after its own calls
        return {};
    }
    QByteArray spki(length, Qt::Uninitialized);
    auto* out = reinterpret_cast<unsigned char*>(spki.data());
    if (i2d_PUBKEY(key, &out) != length)
        return {};
    return QStringLiteral("sha256//") +
           QString::fromLatin1(QCryptographicHash::hash(spki, QCryptographicHash::Sha256).toBase64());
}

bool RefusesTls12(CURLcode code, const char* detail) {
    return code == CURLE_SSL_CONNECT_ERROR && detail && QByteArray(detail).contains("alert protocol version");
}

SecureChannel::SecureChannel(const ServerAddress& address, const ServerEntry& entry)
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
        requireTls(h, address_, tls13_);
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
        me.keyType_ = sshKeyType(raw, found->keytype);
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
        const QString pin = peekCertificatePin(address_, connectLimit, tls13_);
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
