#include "liveview/tls_files.h"

#include <QFile>
#include <memory>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <sys/stat.h>

namespace zantrel {

namespace {

// The file's content, or the reason it cannot be used in problem.
QByteArray readFile(const QString& path, const char* what, bool secret, QString& problem) {
    if (!problem.isEmpty())
        return {};
    QFile f(path);
    if (path.isEmpty() || !f.open(QIODevice::ReadOnly)) {
        problem =
            QStringLiteral("The live view cannot read its %1 file %2%3")
                .arg(QLatin1String(what), path,
                     path.isEmpty() ? QStringLiteral("(none set)") : QStringLiteral(": ") + f.errorString());
        return {};
    }
    struct stat st {};
    if (secret && (::fstat(f.handle(), &st) != 0 || (st.st_mode & (S_IRGRP | S_IROTH)))) {
        problem = QStringLiteral("The live view does not use the key file %1: other users can read it "
                                 "(make it the owner's alone: chmod 600 %1)")
                      .arg(path);
        return {};
    }
    QByteArray pem = f.read(1 << 20);
    pem.append('\0'); // the library reads it as a C string
    return pem;
}

template <typename T, void (*Free)(T*)>
using OpenSslPtr = std::unique_ptr<T, decltype([](T* p) { Free(p); })>;

} // namespace

TlsFiles ReadTlsFiles(const QString& certPath, const QString& keyPath) {
    TlsFiles files;
    files.certPem = readFile(certPath.trimmed(), "certificate", false, files.problem);
    files.keyPem = readFile(keyPath.trimmed(), "key", true, files.problem);
    if (!files.problem.isEmpty())
        return files;
    OpenSslPtr<BIO, BIO_free_all> certBio(BIO_new_mem_buf(files.certPem.constData(), -1));
    OpenSslPtr<BIO, BIO_free_all> keyBio(BIO_new_mem_buf(files.keyPem.constData(), -1));
    OpenSslPtr<X509, X509_free> cert(PEM_read_bio_X509(certBio.get(), nullptr, nullptr, nullptr));
    OpenSslPtr<EVP_PKEY, EVP_PKEY_free> key(PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr));
    if (!cert)
        files.problem = QStringLiteral("The live view's certificate file %1 holds no PEM certificate")
                            .arg(certPath.trimmed());
    else if (!key)
        files.problem = QStringLiteral("The live view's key file %1 holds no PEM private key (or one with a "
                                       "passphrase)")
                            .arg(keyPath.trimmed());
    else if (X509_check_private_key(cert.get(), key.get()) != 1)
        files.problem = QStringLiteral("The live view's key %1 does not belong to its certificate %2")
                            .arg(keyPath.trimmed(), certPath.trimmed());
    ERR_clear_error(); // this thread's other users of OpenSSL start clean
    return files;
}

} // namespace zantrel
