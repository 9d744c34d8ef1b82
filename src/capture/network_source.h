#pragma once

// Capture-private: the source element of a network camera, to be opened by CaptureSession like a local
// camera's.

#include "capture/gst_handle.h"
#include "capture/network_camera.h"

#include <QImage>
#include <memory>

namespace zantrel {

// An http(s):// camera's pictures fetched by libcurl and fed to the pipeline. What the camera answers
// decides how: multipart/x-mixed-replace is an MJPEG stream, read as it comes; image/jpeg is one picture,
// fetched again every interval. Failures are posted as warnings on the pipeline's bus, and
// the camera is asked again after a pause, for as long as the feed lives.
class HttpFeed;

struct NetworkSource {
    gst::ElementPtr element;        // null when the camera cannot be used, with the reason
    std::shared_ptr<HttpFeed> feed; // http(s) only
};

// The camera's source: rtspsrc (TCP, small latency) or an http(s) feed, each followed by decodebin.
// intervalMs is how often a snapshot camera is asked for a picture.
NetworkSource CreateNetworkSource(const NetworkCamera& camera, int intervalMs, QString* error);

// Any thread: a picture fetched after the call, for a snapshot camera; null for a stream, for a
// camera whose kind is not known yet, or when no picture came within timeoutMs.
QImage FetchFreshPicture(HttpFeed& feed, int timeoutMs);

// Any thread: whether someone watches the live picture. A snapshot camera is asked at the preview rate
// while someone does, and otherwise every idleIntervalMs (enough to tell a camera that stopped answering).
void SetFeedDemand(HttpFeed& feed, bool watched, int idleIntervalMs);

} // namespace zantrel
