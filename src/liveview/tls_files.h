#pragma once

#include <QByteArray>
#include <QString>

namespace zantrel {

// What the live view's HTTPS accepts (a GnuTLS priority string): TLS 1.2 and 1.3 only, key exchanges that
// keep past sessions secret if the key is stolen later (ECDHE, DHE), authenticated ciphers only.
inline constexpr const char* kLiveViewTlsPriorities =
    "NORMAL:-VERS-ALL:+VERS-TLS1.3:+VERS-TLS1.2:-RSA:-CIPHER-ALL:+AES-256-GCM:+AES-128-GCM:"
    "+CHACHA20-POLY1305:-MAC-ALL:+AEAD";

// The live view's certificate and key as read from their files, with what is wrong with them.
struct TlsFiles {
    QByteArray certPem; // NUL-terminated for the library
    QByteArray keyPem;
    QString problem; // empty: both readable, the key its owner's alone, and they belong together
};

// Reads both files: the key is refused when its group or others may read it (it is then no secret), and
// a certificate and key that are not a pair are named as such.
TlsFiles ReadTlsFiles(const QString& certPath, const QString& keyPath);

} // namespace zantrel
