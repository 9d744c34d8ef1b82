#include "core/curl_global.h"

#include <curl/curl.h>
#include <mutex>

namespace zantrel {

bool EnsureCurlGlobalInit() {
    static std::once_flag once;
    static bool ok = false;
    // Never cleaned up: handles may still be closing on background threads when the process ends.
    std::call_once(once, [] { ok = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
    return ok;
}

void CurlEasyCleanup::operator()(CURL* handle) const {
    curl_easy_cleanup(handle);
}

CurlHandle NewCurlHandle() {
    return CurlHandle(EnsureCurlGlobalInit() ? curl_easy_init() : nullptr);
}

} // namespace zantrel
