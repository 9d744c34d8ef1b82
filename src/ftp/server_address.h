#pragma once

#include <QByteArray>
#include <QString>
#include <curl/curl.h>

namespace zantrel {

enum class Transport { Ftp, Ftps, Sftp };

// Where a server entry points: "host" and "ftp://host" are plain FTP, "ftps://host" FTP with explicit
// TLS, "sftp://host" SFTP over SSH. The port comes from the entry; an SFTP entry left at FTP's 21
// means SSH's 22.
struct ServerAddress {
    Transport transport = Transport::Ftp;
    QString host;
    int port = 21;
};
ServerAddress ParseServerAddress(const QString& address, int port);

// True when text holds a character below 0x20 or DEL: such text would reach the server as extra
// commands or break a status line.
bool HasControlCharacter(const QString& text);

// "scheme://host:port/" for libcurl, or an empty array with the reason in error: a scheme other than
// ftp://, ftps:// and sftp://, a host libcurl does not take. A user name and password written into the
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
