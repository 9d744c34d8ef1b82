#include "capture/overlay_sink.h"

#include "capture/gst_handle.h"

#include <QGuiApplication>

namespace zantrel {

namespace {

bool opensOnDisplay(const char* factory) {
    gst::ElementPtr sink = gst::makeElement(factory);
    if (!sink)
        return false;
    const bool ok = gst_element_set_state(sink.get(), GST_STATE_READY) != GST_STATE_CHANGE_FAILURE;
    gst_element_set_state(sink.get(), GST_STATE_NULL);
    return ok;
}

QString probe() {
    // Window handles given to the sink are X11 window ids, which only the xcb platform hands out.
    if (QGuiApplication::platformName() != QLatin1String("xcb") || !gst::ensureInitialised())
        return {};
    for (const char* factory : {"xvimagesink", "glimagesink", "ximagesink"}) {
        if (opensOnDisplay(factory))
            return QString::fromLatin1(factory);
    }
    return {};
}

} // namespace

QString OverlaySinkFactory() {
    static const QString factory = probe();
    return factory;
}

} // namespace zantrel
