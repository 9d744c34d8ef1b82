#include "transfer/server_address.h"

#include <QRegularExpression>
#include <curl/curl.h>
#include <memory>

namespace zantrel {

ServerAddress ParseServerAddress(const QString& address, int port) {
    ServerAddress out;
    out.host = address.trimmed();
    out.port = port;
    const struct {
        const char* prefix;
        Transport transport;
    } schemes[] = {{"ftp://", Transport::Ftp}, {"ftps://", Transport::Ftps}, {"sftp://", Transport::Sftp}};
    for (const auto& s : schemes) {
        if (out.host.startsWith(QLatin1String(s.prefix), Qt::CaseInsensitive)) {
            out.transport = s.transport;
            out.host.remove(0, static_cast<int>(qstrlen(s.prefix)));
            break;
        }
    }
    while (out.host.endsWith(QLatin1Char('/')))
        out.host.chop(1);
    if (out.transport == Transport::Sftp && port == 21)
        out.port = 22;
    return out;
}

namespace {

// "user:pass@host" → "host": what comes before the last "@" of the host part is a login.
QString withoutLogin(const QString& host) {
    const qsizetype at = host.lastIndexOf(QLatin1Char('@'));
    return at < 0 ? host : host.mid(at + 1);
}

} // namespace

QString ShownAddress(const QString& address) {
    QString shown = address.trimmed();
    const qsizetype start =
        shown.indexOf(QLatin1String("://")) < 0 ? 0 : shown.indexOf(QLatin1String("://")) + 3;
    const qsizetype end = shown.indexOf(QLatin1Char('/'), start);
    const QString host = shown.mid(start, end < 0 ? -1 : end - start);
    shown.replace(start, host.size(), withoutLogin(host));
    for (QChar& c : shown)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = QLatin1Char(' '); // one status, one line
    return shown;
}

void AllowOnlyScheme(CURL* h, const QByteArray& url) {
    const QByteArray scheme = url.left(url.indexOf("://"));
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, scheme.constData());
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, scheme.constData());
}

bool HasControlCharacter(const QString& text) {
    for (const QChar c : text)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return true;
    return false;
}

QByteArray BaseUrl(const ServerAddress& address, QString& error) {
    static const char* const schemes[] = {"ftp", "ftps", "sftp"};
    // ftps:// in libcurl means implicit TLS; explicit TLS is ftp:// with TLS required on the handle.
    const char* scheme = address.transport == Transport::Sftp ? schemes[2]
                         : ImplicitTls(address)               ? schemes[1]
                                                              : schemes[0];
    if (HasControlCharacter(address.host)) {
        error = QStringLiteral("The server address holds a control character");
        return {};
    }
    static const QRegularExpression otherScheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*:/"));
    if (otherScheme.match(address.host).hasMatch()) {
        error = QStringLiteral("Unknown kind of server address %1: use ftp://, ftps:// or sftp:// (or the "
                               "host name alone for FTP)")
                    .arg(ShownAddress(address.host));
        return {};
    }
    if (address.host.contains(QLatin1Char('@'))) {
        error = QStringLiteral("Bad server address %1: write the user name and password in their own "
                               "fields, not in the address")
                    .arg(withoutLogin(address.host));
        return {};
    }
    if (address.transport == Transport::Ftp && address.port == kImplicitTlsPort) {
        error = QStringLiteral("Port %1 is for FTP over TLS from the first byte (implicit FTPS): write the "
                               "address as ftps://%2")
                    .arg(kImplicitTlsPort)
                    .arg(address.host);
        return {};
    }
    // A literal IPv6 address needs brackets in a URL.
    const QString host = address.host.contains(QLatin1Char(':')) && !address.host.startsWith(QLatin1Char('['))
                             ? QLatin1Char('[') + address.host + QLatin1Char(']')
                             : address.host;
    std::unique_ptr<CURLU, void (*)(CURLU*)> url(curl_url(), &curl_url_cleanup);
    CURLUcode uc = url ? CURLUE_OK : CURLUE_OUT_OF_MEMORY;
    if (uc == CURLUE_OK)
        uc = curl_url_set(url.get(), CURLUPART_SCHEME, scheme, 0);
    if (uc == CURLUE_OK)
        uc = curl_url_set(url.get(), CURLUPART_HOST, host.toUtf8().constData(), 0);
    if (uc == CURLUE_OK)
        uc = curl_url_set(url.get(), CURLUPART_PORT, QByteArray::number(address.port).constData(), 0);
    if (uc == CURLUE_OK)
        uc = curl_url_set(url.get(), CURLUPART_PATH, "/", 0);
    char* text = nullptr;
    if (uc == CURLUE_OK)
        uc = curl_url_get(url.get(), CURLUPART_URL, &text, 0);
    if (uc != CURLUE_OK) {
        error = QStringLiteral("Bad server address %1 port %2: %3")
                    .arg(address.host)
                    .arg(address.port)
                    .arg(QString::fromUtf8(curl_url_strerror(uc)));
        return {};
    }
    QByteArray out(text);
    curl_free(text);
    return out;
}

} // namespace zantrel

#include <QUrl>

namespace zantrel {

QByteArray FolderPath(Transport transport, const QString& folder) {
    const bool absolute = folder.startsWith(QLatin1Char('/'));
    QByteArray path;
    // FTP: libcurl decodes before splitting, so a leading "%2F" becomes "CWD /". SFTP paths are
    // absolute; "~/" is the login folder.
    if (transport == Transport::Sftp)
        path = absolute ? QByteArray() : QByteArray("~/");
    else if (absolute)
        path = "%2F";
    for (const QString& part : folder.split(QLatin1Char('/'), Qt::SkipEmptyParts))
        path += QUrl::toPercentEncoding(part) + '/';
    return path;
}

} // namespace zantrel
