#pragma once

#include <QByteArray>

namespace zantrel {

// The live view's one page: the latest image, replaced when a new one is published, a "Live" switch
// for the stream, the image's time and the next update.
const QByteArray& LivePageHtml();

} // namespace zantrel
