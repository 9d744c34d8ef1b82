#pragma once

namespace zantrel {

// Initialises libcurl for the whole process on the first call; later calls return at once. Safe to
// call from any thread. Returns false when libcurl could not be initialised.
bool EnsureCurlGlobalInit();

} // namespace zantrel
