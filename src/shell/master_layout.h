#pragma once

#include <QRect>
#include <QSize>

namespace zantrel {

// The main window's skin geometry, in pixels. Every length follows from the window's outer size, the
// heights of the caption row's buttons and of the lower toolbar, and the platform's border width.
struct MasterLayoutInput {
    QSize outer;
    int captionButtonHeight = 0;
    int otherToolbarHeight = 0;
    int masterToolbarHeight = 0;
    int statusHeight = 0;
    int border = 1;
};

struct MasterLayout {
    static constexpr int kMinimumWidth = 250;
    static constexpr int kMinimumHeight = 230;
    static constexpr int kCaptionToolbarTop = 2;
    static constexpr int kControlsLeft = 10;

    QRect captionRow; // the caption toolbar at its top, the title picture over its left part
    QRect controls;
    // Inside `controls`:
    QRect masterToolbar;
    QRect video;
    QRect otherToolbar;
    QRect status;
};

// The size the window snaps back to: only a dimension below the minimum changes.
QSize SnappedOuterSize(QSize outer);

MasterLayout ComputeMasterLayout(const MasterLayoutInput& in);

} // namespace zantrel
