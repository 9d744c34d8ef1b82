#include "ftp/ftp_error_text.h"

#include <curl/curl.h>

namespace zantrel {

QString InternetErrorText(int curlCode, const char* detail) {
    const QString generic = QString::fromUtf8(curl_easy_strerror(static_cast<CURLcode>(curlCode)));
    const QString extra = QString::fromUtf8(detail ? detail : "").trimmed();
    if (extra.isEmpty() || extra.startsWith(QLatin1String("sa_addr")) || extra == generic)
        return generic;
    if (extra.contains(generic))
        return extra;
    return generic + QStringLiteral(" (") + extra + QLatin1Char(')');
}

} // namespace zantrel
