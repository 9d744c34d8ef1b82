#pragma once

#include <curl/curl.h>
#include <memory>

namespace zantrel {

// Initialises libcurl for the whole process on the first call; later calls return at once. Safe to
// call from any thread. Returns false when libcurl could not be initialised.
bool EnsureCurlGlobalInit();

struct CurlEasyCleanup {
    void operator()(CURL* handle) const;
};
using CurlHandle = std::unique_ptr<CURL, CurlEasyCleanup>;

// A fresh easy handle, libcurl initialised first; null when either fails.
CurlHandle NewCurlHandle();

} // namespace zantrel
