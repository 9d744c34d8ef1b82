#include "capture/bus_signals.h"

#include <QPointer>
#include <mutex>

namespace zantrel {

// What the bus's handler holds: a guarded way back to the watcher, which may be gone by the time a
// streaming thread posts its last message.
struct BusSignals::Relay {
    std::mutex mutex;
    QPointer<BusSignals> target;

    static GstBusSyncReply onMessage(GstBus*, GstMessage* message, gpointer data) {
        // Every message is dropped here, and a handler that drops a message releases it: a message
        // kept refers to its source, and with it the element, its pads and the whole pipeline.
        const gst::MessagePtr dropped(message);
        auto* relay = static_cast<std::shared_ptr<Relay>*>(data)->get();
        switch (GST_MESSAGE_TYPE(message)) {
        case GST_MESSAGE_ERROR:
        case GST_MESSAGE_WARNING:
        case GST_MESSAGE_EOS:
        case GST_MESSAGE_DEVICE_ADDED:
        case GST_MESSAGE_DEVICE_REMOVED:
            break;
        default:
            return GST_BUS_DROP;
        }
        std::lock_guard lock(relay->mutex);
        if (!relay->target)
            return GST_BUS_DROP;
        auto held = std::shared_ptr<GstMessage>(gst_message_ref(message), gst::MessageUnref());
        QPointer<BusSignals> target = relay->target;
        QMetaObject::invokeMethod(
            relay->target.data(),
            [target, held] {
                if (target)
                    target->dispatch(held.get());
            },
            Qt::QueuedConnection);
        return GST_BUS_DROP;
    }

    static void release(gpointer data) { delete static_cast<std::shared_ptr<Relay>*>(data); }
};

BusSignals::BusSignals(GstBus* bus, QObject* parent)
    : QObject(parent), bus_(gst::share(bus)), relay_(std::make_shared<Relay>()) {
    relay_->target = this;
    // The bus keeps its own share of the relay until it replaces the handler or is finalised.
    gst_bus_set_sync_handler(bus_.get(), &Relay::onMessage, new std::shared_ptr<Relay>(relay_),
                             &Relay::release);
}

BusSignals::~BusSignals() {
    std::lock_guard lock(relay_->mutex);
    relay_->target = nullptr;
}

void BusSignals::dispatch(GstMessage* message) {
    switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_ERROR: {
        GError* raw = nullptr;
        gchar* debug = nullptr;
        gst_message_parse_error(message, &raw, &debug);
        gst::ErrorPtr error(raw);
        gst::CharPtr details(debug);
        Q_EMIT errorOccurred(error ? gst::toQString(error->message) : QStringLiteral("unknown error"));
        break;
    }
    case GST_MESSAGE_WARNING: {
        GError* raw = nullptr;
        gst_message_parse_warning(message, &raw, nullptr);
        gst::ErrorPtr error(raw);
        if (error)
            Q_EMIT warningOccurred(gst::toQString(error->message));
        break;
    }
    case GST_MESSAGE_EOS:
        Q_EMIT endOfStream();
        break;
    case GST_MESSAGE_DEVICE_ADDED: {
        GstDevice* raw = nullptr;
        gst_message_parse_device_added(message, &raw);
        gst::ObjectPtr<GstDevice> device(raw);
        Q_EMIT deviceAdded(device.get());
        break;
    }
    case GST_MESSAGE_DEVICE_REMOVED: {
        GstDevice* raw = nullptr;
        gst_message_parse_device_removed(message, &raw);
        gst::ObjectPtr<GstDevice> device(raw);
        Q_EMIT deviceRemoved(device.get());
        break;
    }
    default:
        break;
    }
}

} // namespace zantrel
