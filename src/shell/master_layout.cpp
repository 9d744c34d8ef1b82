#include "shell/master_layout.h"

#include <algorithm>

namespace zantrel {

QSize SnappedOuterSize(QSize outer) {
    return {std::max(outer.width(), MasterLayout::kMinimumWidth),
            std::max(outer.height(), MasterLayout::kMinimumHeight)};
}

MasterLayout ComputeMasterLayout(const MasterLayoutInput& in) {
    MasterLayout l;
    const int w = in.outer.width();
    const int h = in.outer.height();

    const int controlsTop = in.captionButtonHeight + 4;
    const int controlsLeft = MasterLayout::kControlsLeft;
    l.controls = QRect(controlsLeft, controlsTop, w - 2 * controlsLeft - 8 * in.border,
                       h - 2 * controlsTop - 7 * in.border);

    // The row starts at the window's top: the title picture at 0, the toolbar a little lower.
    l.captionRow = QRect(0, 0, w - 8 * in.border, MasterLayout::kCaptionToolbarTop + in.captionButtonHeight);

    const int toolbarWidth = l.controls.width() - 4;
    l.masterToolbar = QRect(0, 0, toolbarWidth, in.masterToolbarHeight);
    l.otherToolbar =
        QRect(0, l.controls.height() - in.otherToolbarHeight - 4, toolbarWidth, in.otherToolbarHeight);
    const int videoTop = l.masterToolbar.bottom() + 1;
    l.video = QRect(0, videoTop, toolbarWidth, std::max(0, l.otherToolbar.top() - videoTop));

    l.status =
        QRect(controlsLeft, l.controls.top() + l.controls.height() + 2, l.controls.width(), in.statusHeight);
    return l;
}

} // namespace zantrel
