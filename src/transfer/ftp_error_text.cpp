#include "transfer/ftp_error_text.h"

#include <QRegularExpression>
#include <curl/curl.h>

namespace zantrel {

namespace {

int noteReply(CURL*, curl_infotype type, char* data, size_t size, void* lastReply) {
    if (type == CURLINFO_HEADER_IN) {
        const QByteArray line = QByteArray(data, static_cast<qsizetype>(size)).trimmed();
        if (!line.isEmpty())
            *static_cast<QByteArray*>(lastReply) = line;
    }
    return 0;
}

QString serverReplyText(const QByteArray& reply) {
    QString line = QString::fromUtf8(reply);
    for (QChar& c : line)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = QLatin1Char(' ');
    line = line.simplified();
    static const QRegularExpression tls(QStringLiteral("\\b(TLS|SSL|encrypt|cleartext)"),
                                        QRegularExpression::CaseInsensitiveOption);
    // Refusals of a login or command; not 522 and the like, which a TLS connection gets for a failed
    // handshake on its data connection.
    static const QRegularExpression refusal(QStringLiteral("^(421|530|534|550)\\b"));
    if (line.contains(refusal) && line.contains(tls))
        return QStringLiteral("The server demands TLS (it said \"%1\"): begin the address with ftps://")
            .arg(line);
    if (line.startsWith(QLatin1String("421")))
        return QStringLiteral("The server closed the connection (it said \"%1\")").arg(line);
    return {};
}

} // namespace

QString InternetErrorText(int curlCode, const char* detail, const QByteArray& reply) {
    if (const QString server = serverReplyText(reply); !server.isEmpty())
        return server;
    const QString generic = QString::fromUtf8(curl_easy_strerror(static_cast<CURLcode>(curlCode)));
    const QString extra = QString::fromUtf8(detail ? detail : "").trimmed();
    if (extra.isEmpty() || extra.startsWith(QLatin1String("sa_addr")) || extra == generic)
        return generic;
    if (extra.contains(generic))
        return extra;
    return generic + QStringLiteral(" (") + extra + QLatin1Char(')');
}

void NoteServerReplies(void* curlHandle, QByteArray* lastReply) {
    curl_easy_setopt(curlHandle, CURLOPT_DEBUGFUNCTION, &noteReply);
    curl_easy_setopt(curlHandle, CURLOPT_DEBUGDATA, lastReply);
    curl_easy_setopt(curlHandle, CURLOPT_VERBOSE, 1L);
}

} // namespace zantrel
