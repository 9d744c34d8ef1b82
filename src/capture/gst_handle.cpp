#include "capture/gst_handle.h"

#include <QDebug>

namespace zantrel::gst {

bool ensureInitialised() {
    static const bool ready = [] {
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
