#pragma once

#include <QByteArray>
#include <QString>

namespace zantrel {

// The text shown after "Error:" for a failed libcurl call: libcurl's message for the code, or the
// handle's error buffer (detail) when that says more. This libcurl leaves a stray "sa_addr inet_ntop"
// line in the buffer on active-mode transfers, hiding the real reason; such a buffer is ignored.
// The server's last reply line (reply) is shown instead where it says more than libcurl: a server that
// demands TLS before the login, and a 421 closing the session (which libcurl reports as a timeout).
QString InternetErrorText(int curlCode, const char* detail = nullptr, const QByteArray& reply = {});

// Has libcurl hand every reply line of the handle's server to lastReply, which then holds the last one.
// lastReply must outlive the handle's transfers.
void NoteServerReplies(void* curlHandle, QByteArray* lastReply);

} // namespace zantrel
