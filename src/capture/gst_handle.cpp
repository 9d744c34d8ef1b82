#include "capture/gst_handle.h"

#include <QDebug>
#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace zantrel::gst {

namespace {
// What malloc maps on its own rather than taking from an arena.
[[maybe_unused]] constexpr int kFrameMmapThreshold = 256 * 1024;
} // namespace

bool ensureInitialised() {
    static const bool ready = [] {
#ifdef __GLIBC__
        // Camera frames (a megabyte and more each) are mapped and unmapped on their own: by default
        // the threshold grows after the first frames are freed, and from then on frames come from the
        // streaming threads' arenas, where what a stopped camera freed stays (RSS rose at every reconnect).
        mallopt(M_MMAP_THRESHOLD, kFrameMmapThreshold);
#endif
        GError* raw = nullptr;
        const bool ok = gst_init_check(nullptr, nullptr, &raw);
        ErrorPtr error(raw);
        if (!ok)
            qWarning("GStreamer cannot start: %s", error ? error->message : "unknown reason");
        return ok;
    }();
    return ready;
}

ElementPtr makeElement(const char* factory, const char* name) {
    return adopt(gst_element_factory_make(factory, name));
}

QString toQString(const gchar* text) {
    return text ? QString::fromUtf8(text) : QString();
}

} // namespace zantrel::gst
