#pragma once

#include <QImage>

namespace zantrel {

inline constexpr int kMiraWidth = 320;
inline constexpr int kMiraHeight = 200;

// The 320 x 200 test card: colour bars under the program's title. Shown in the video area while no
// camera picture is there and published instead of a frame when the camera yields none.
// Format_RGB32; drawn once per process, then shared.
QImage MiraTestCard();
// The card's caption (the program's title) over its full width, from the top.
inline constexpr int kMiraCaptionHeight = 40;
// The image is the test card as MiraTestCard() handed it out, unchanged.
bool IsTestCard(const QImage& image);

} // namespace zantrel
