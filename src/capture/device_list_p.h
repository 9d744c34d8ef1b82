#pragma once

// Capture-private: the GStreamer side of DeviceList.

#include "capture/bus_signals.h"
#include "capture/device_list.h"
#include "capture/gst_handle.h"
#include "capture/network_camera.h"

#include <vector>

namespace zantrel {

class HttpFeed;

struct DeviceEntry {
    QString name;
    QString identity;
    QString sortKey;
    gst::ObjectPtr<GstDevice> device; // null for the test camera
};

struct DeviceList::Impl {
    gst::ObjectPtr<GstDeviceMonitor> monitor;
    std::unique_ptr<BusSignals> bus;
    std::vector<DeviceEntry> cameras;   // sorted by sortKey, then identity
    std::vector<NetworkCamera> network; // the saved ones, then one added by addUnlisted
    QString unlisted;                   // the address addUnlisted added, if any
    QString testDescription;            // empty: no test camera

    // A new source element for the device at index; null with a reason when it cannot be made. A
    // network camera's http feed, if it has one, goes to feed.
    gst::ElementPtr createSource(int index, QString* error, std::shared_ptr<HttpFeed>* feed = nullptr) const;
    const NetworkCamera* networkCamera(int index) const;
};

DeviceEntry describeDevice(GstDevice* device);

} // namespace zantrel
