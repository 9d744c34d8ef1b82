#pragma once

#include <QByteArray>
#include <QString>
#include <curl/curl.h>

namespace zantrel {

enum class Transport { Ftp, Ftps, Sftp };

// Where a server entry points: "host" and "ftp://host" are plain FTP, "ftps://host" FTP over TLS
// (see ImplicitTls), "sftp://host" SFTP over SSH. The port comes from the entry; an SFTP entry left at FTP's
// 21 means SSH's 22.
struct ServerAddress {
    Transport transport = Transport::Ftp;
    QString host;
    int port = 21;
};
ServerAddress ParseServerAddress(const QString& address, int port);

// True when text holds a character below 0x20 or DEL: such text would reach the server as extra
// commands or break a status line.
bool HasControlCharacter(const QString& text);

// FTPS on port 990 speaks TLS from the first byte (implicit TLS), as FTP clients take it; FTPS on any
// other port starts in plain text and asks for TLS before the login (explicit TLS).
constexpr int kImplicitTlsPort = 990;
inline bool ImplicitTls(const ServerAddress& address) {
    return address.transport == Transport::Ftps && address.port == kImplicitTlsPort;
}

// "scheme://host:port/" for libcurl, or an empty array with the reason in error: a scheme other than
// ftp://, ftps:// and sftp://, a host libcurl does not take, plain FTP on the implicit TLS port (where the
// server would wait for a TLS handshake that never comes). A user name and password written into the
// address ("user:pass@host") never show in the reason.
QByteArray BaseUrl(const ServerAddress& address, QString& error);

// Lets the handle use only the scheme the URL starts with, for requests and redirects alike.
void AllowOnlyScheme(CURL* h, const QByteArray& url);

// The address as a status line may show it: one line, without a user name or password written into it.
QString ShownAddress(const QString& address);

} // namespace zantrel

namespace zantrel {

// The URL path of a remote folder below the base URL, ending with "/" (empty for the login folder):
// relative to the login folder, or from the root when it starts with "/".
QByteArray FolderPath(Transport transport, const QString& folder);

} // namespace zantrel
