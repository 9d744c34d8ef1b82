#pragma once

// Capture-private: the GStreamer side of DeviceList.

#include "capture/bus_signals.h"
#include "capture/device_list.h"
#include "capture/gst_handle.h"

#include <vector>

namespace zantrel {

struct DeviceEntry {
    QString name;
    QString identity;
    QString sortKey;
    gst::ObjectPtr<GstDevice> device; // null for the test camera
};

struct DeviceList::Impl {
    gst::ObjectPtr<GstDeviceMonitor> monitor;
    std::unique_ptr<BusSignals> bus;
    std::vector<DeviceEntry> cameras; // sorted by sortKey, then identity
    QString testDescription;          // empty: no test camera

    // A new source element for the device at index; null with a reason when it cannot be made.
    gst::ElementPtr createSource(int index, QString* error) const;
};

DeviceEntry describeDevice(GstDevice* device);

} // namespace zantrel
