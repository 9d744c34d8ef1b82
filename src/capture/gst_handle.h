#pragma once

// Owning handles for the GStreamer and GLib objects the capture code holds. Private to capture and
// the time-lapse encoder: only src/capture/*.cpp and src/timelapse/*.cpp include this file.

#include <QString>
#include <gst/gst.h>
#include <memory>

namespace zantrel::gst {

struct ObjectUnref {
    void operator()(void* object) const {
        if (object)
            gst_object_unref(object);
    }
};
struct CapsUnref {
    void operator()(GstCaps* caps) const {
        if (caps)
            gst_caps_unref(caps);
    }
};
struct MessageUnref {
    void operator()(GstMessage* message) const {
        if (message)
            gst_message_unref(message);
    }
};
struct StructureFree {
    void operator()(GstStructure* structure) const {
        if (structure)
            gst_structure_free(structure);
    }
};
struct ErrorFree {
    void operator()(GError* error) const {
        if (error)
            g_error_free(error);
    }
};
struct GFree {
    void operator()(void* memory) const { g_free(memory); }
};

template <typename T> using ObjectPtr = std::unique_ptr<T, ObjectUnref>;
using ElementPtr = ObjectPtr<GstElement>;
using CapsPtr = std::unique_ptr<GstCaps, CapsUnref>;
using MessagePtr = std::unique_ptr<GstMessage, MessageUnref>;
using StructurePtr = std::unique_ptr<GstStructure, StructureFree>;
using ErrorPtr = std::unique_ptr<GError, ErrorFree>;
using CharPtr = std::unique_ptr<gchar, GFree>;

// Takes ownership of a reference that may be floating (a fresh element): sinks it first.
template <typename T> ObjectPtr<T> adopt(T* object) {
    if (object)
        gst_object_ref_sink(object);
    return ObjectPtr<T>(object);
}

// A new reference to an object someone else owns.
template <typename T> ObjectPtr<T> share(T* object) {
    if (object)
        gst_object_ref(object);
    return ObjectPtr<T>(object);
}

// Initialises GStreamer once per process; false (with the reason logged) when it cannot start.
bool ensureInitialised();

// An element from a factory, or null when the plugin is missing.
ElementPtr makeElement(const char* factory, const char* name = nullptr);

QString toQString(const gchar* text);

} // namespace zantrel::gst
