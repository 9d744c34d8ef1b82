#include "capture/device_list_p.h"
#include "capture/network_source.h"
#include "capture/preview_rate.h"

#include <QDebug>
#include <QRegularExpression>
#include <algorithm>

namespace zantrel {

namespace {

QString property(const GstStructure* properties, const char* field) {
    return properties ? gst::toQString(gst_structure_get_string(properties, field)) : QString();
}

// An output of one of bin's own elements that nothing is linked to (not one inside an element that is
// itself a bin, such as decodebin's parts); null when there is none.
gst::ObjectPtr<GstPad> unlinkedOutput(GstBin* bin) {
    gst::ObjectPtr<GstPad> found;
    for (GList* e = bin->children; e && !found; e = e->next)
        for (GList* p = GST_ELEMENT(e->data)->srcpads; p && !found; p = p->next)
            if (!gst_pad_is_linked(GST_PAD(p->data)))
                found = gst::share(GST_PAD(p->data));
    return found;
}

bool sortedBefore(const DeviceEntry& a, const DeviceEntry& b) {
    if (a.sortKey != b.sortKey)
        return a.sortKey < b.sortKey;
    return a.identity < b.identity;
}

} // namespace

DeviceEntry describeDevice(GstDevice* device) {
    DeviceEntry entry;
    gst::CharPtr displayName(gst_device_get_display_name(device));
    entry.name = gst::toQString(displayName.get());
    gst::StructurePtr properties(gst_device_get_properties(device));
    const QString serial = property(properties.get(), "device.serial");
    const QString busPath = property(properties.get(), "device.bus_path");
    const QString path = property(properties.get(), "device.path");
    const QString objectPath = property(properties.get(), "object.path");
    if (!serial.isEmpty())
        entry.identity = QStringLiteral("serial:%1|%2").arg(serial, entry.name);
    else if (!busPath.isEmpty())
        entry.identity = QStringLiteral("bus:") + busPath;
    else if (!path.isEmpty())
        entry.identity = QStringLiteral("path:") + path;
    else if (!objectPath.isEmpty())
        entry.identity = QStringLiteral("object:") + objectPath;
    else
        entry.identity = QStringLiteral("name:") + entry.name;
    entry.sortKey = !path.isEmpty() ? path : entry.name;
    entry.device = gst::share(device);
    return entry;
}

DeviceList::DeviceList(QObject* parent) : QObject(parent), d_(std::make_unique<Impl>()) {
    d_->testDescription = qEnvironmentVariable(testCameraVariable()).trimmed();
    d_->network = ReadNetworkCameras();
    if (!gst::ensureInitialised())
        return;
    d_->monitor = gst::adopt(gst_device_monitor_new());
    gst_device_monitor_add_filter(d_->monitor.get(), "Video/Source", nullptr);
    gst::ObjectPtr<GstBus> bus(gst_device_monitor_get_bus(d_->monitor.get()));
    d_->bus = std::make_unique<BusSignals>(bus.get());
    connect(d_->bus.get(), &BusSignals::deviceAdded, this, [this](GstDevice* device) {
        DeviceEntry entry = describeDevice(device);
        const QString identity = entry.identity;
        auto& cameras = d_->cameras;
        std::erase_if(cameras, [&](const DeviceEntry& e) { return e.identity == identity; });
        cameras.insert(std::upper_bound(cameras.begin(), cameras.end(), entry, sortedBefore),
                       std::move(entry));
        Q_EMIT changed();
        Q_EMIT added(identity);
    });
    connect(d_->bus.get(), &BusSignals::deviceRemoved, this, [this](GstDevice* device) {
        const QString identity = describeDevice(device).identity;
        if (std::erase_if(d_->cameras, [&](const DeviceEntry& e) { return e.identity == identity; }) == 0)
            return;
        Q_EMIT changed();
        Q_EMIT removed(identity);
    });
    if (!gst_device_monitor_start(d_->monitor.get()))
        qWarning("The camera monitor did not start: plugged-in cameras are not noticed.");
    GList* devices = gst_device_monitor_get_devices(d_->monitor.get());
    for (GList* item = devices; item; item = item->next)
        d_->cameras.push_back(describeDevice(GST_DEVICE(item->data)));
    g_list_free_full(devices, gst_object_unref);
    std::sort(d_->cameras.begin(), d_->cameras.end(), sortedBefore);
}

DeviceList::~DeviceList() {
    if (d_->monitor)
        gst_device_monitor_stop(d_->monitor.get());
}

int DeviceList::count() const {
    return int(d_->cameras.size() + d_->network.size()) + (d_->testDescription.isEmpty() ? 0 : 1);
}

QString DeviceList::name(int index) const {
    if (index < 0 || index >= count())
        return {};
    if (index < int(d_->cameras.size()))
        return d_->cameras[std::size_t(index)].name;
    if (const NetworkCamera* camera = d_->networkCamera(index))
        return CameraLabel(*camera);
    return testCameraName();
}

QString DeviceList::identity(int index) const {
    if (index < 0 || index >= count())
        return {};
    if (index < int(d_->cameras.size()))
        return d_->cameras[std::size_t(index)].identity;
    if (const NetworkCamera* camera = d_->networkCamera(index))
        return camera->url;
    return QStringLiteral("test:") + d_->testDescription;
}

bool DeviceList::isNetworkCamera(int index) const {
    return d_->networkCamera(index) != nullptr;
}

void DeviceList::reloadNetworkCameras() {
    auto saved = ReadNetworkCameras();
    const bool listed = std::any_of(saved.begin(), saved.end(),
                                    [this](const NetworkCamera& c) { return c.url == d_->unlisted; });
    if (!d_->unlisted.isEmpty() && !listed)
        saved.push_back({{}, d_->unlisted, {}, {}});
    if (saved == d_->network)
        return;
    d_->network = std::move(saved);
    Q_EMIT changed();
}

int DeviceList::addUnlisted(const QString& address) {
    const int known = indexOf(address);
    if (known >= 0 || address.isEmpty())
        return known;
    d_->unlisted = address;
    d_->network.push_back({{}, address, {}, {}});
    Q_EMIT changed();
    return int(d_->cameras.size() + d_->network.size()) - 1;
}

const NetworkCamera* DeviceList::Impl::networkCamera(int index) const {
    const auto at = std::size_t(index) - cameras.size();
    return index >= int(cameras.size()) && at < network.size() ? &network[at] : nullptr;
}

int DeviceList::indexOf(const QString& wanted) const {
    for (int i = 0; i < count(); ++i) {
        if (identity(i) == wanted)
            return i;
    }
    return -1;
}

gst::ElementPtr DeviceList::Impl::createSource(int index, QString* error,
                                               std::shared_ptr<HttpFeed>* feed) const {
    if (index >= 0 && index < int(cameras.size())) {
        gst::ElementPtr element =
            gst::adopt(gst_device_create_element(cameras[std::size_t(index)].device.get(), nullptr));
        if (!element && error)
            *error = QStringLiteral("the camera offers no source element");
        return element;
    }
    if (const NetworkCamera* camera = networkCamera(index)) {
        NetworkSource source = CreateNetworkSource(*camera, PreviewIntervalMs(ReadPreviewRate()), error);
        if (feed)
            *feed = source.feed;
        return std::move(source.element);
    }
    if (index == int(cameras.size() + network.size()) && !testDescription.isEmpty()) {
        // Caps at the end of a description ("… ! video/x-raw,width=640") need an element after them, and
        // so does an element whose output appears only once it runs ("… ! decodebin"). Only the output
        // becomes a pad of the bin: an input left unlinked there waits for a source that links it while
        // it runs ("rtspsrc ! decodebin").
        static const QRegularExpression endsInCaps(QStringLiteral("!\\s*[a-z]+/[^!]*$"));
        QString description = testDescription;
        if (endsInCaps.match(description).hasMatch())
            description += QStringLiteral(" ! identity");
        for (bool retried = false;; retried = true) {
            GError* raw = nullptr;
            GstElement* bin = gst_parse_bin_from_description(description.toUtf8().constData(), FALSE, &raw);
            gst::ErrorPtr parseError(raw);
            gst::ElementPtr element = gst::adopt(bin);
            if (parseError) {
                if (error)
                    *error = gst::toQString(parseError->message);
                return {};
            }
            if (const gst::ObjectPtr<GstPad> output = unlinkedOutput(GST_BIN(bin))) {
                gst_element_add_pad(bin, gst_ghost_pad_new("src", output.get()));
                return element;
            }
            if (retried) {
                if (error)
                    *error = QStringLiteral("the test camera's description gives no pictures");
                return {};
            }
            description += QStringLiteral(" ! identity");
        }
    }
    if (error)
        *error = QStringLiteral("no camera at index %1").arg(index);
    return {};
}

} // namespace zantrel
