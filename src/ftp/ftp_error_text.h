#pragma once

#include <QString>

namespace zantrel {

// The text shown after "Error:" for a failed libcurl call: libcurl's message for the code, or the
// handle's error buffer (detail) when that says more. This libcurl leaves a stray "sa_addr inet_ntop"
// line in the buffer on active-mode transfers, hiding the real reason; such a buffer is ignored.
QString InternetErrorText(int curlCode, const char* detail = nullptr);

} // namespace zantrel
