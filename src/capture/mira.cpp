#include "capture/mira.h"

#include "core/version.h"

#include <QFont>
#include <QPainter>
#include <array>

namespace zantrel {

namespace {

QImage drawTestCard() {
    QImage card(kMiraWidth, kMiraHeight, QImage::Format_RGB32);
    card.fill(Qt::black);
    QPainter painter(&card);
    // Seven bars at 75 % intensity: white, yellow, cyan, green, magenta, red, blue.
    static constexpr std::array<QRgb, 7> bars{0xbfbfbf, 0xbfbf00, 0x00bfbf, 0x00bf00,
                                              0xbf00bf, 0xbf0000, 0x0000bf};
    const int barTop = kMiraCaptionHeight;
    const int barBottom = 150;
    for (std::size_t i = 0; i < bars.size(); ++i) {
        const int left = int(i) * kMiraWidth / int(bars.size());
        const int right = int(i + 1) * kMiraWidth / int(bars.size());
        painter.fillRect(left, barTop, right - left, barBottom - barTop, QColor(bars[i]));
    }
    // A grey ramp under the bars.
    for (int x = 0; x < kMiraWidth; ++x) {
        const int level = x * 255 / (kMiraWidth - 1);
        painter.fillRect(x, barBottom, 1, kMiraHeight - barBottom, QColor(level, level, level));
    }
    QFont font = painter.font();
    font.setPixelSize(18);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRect(0, 0, kMiraWidth, barTop), Qt::AlignCenter, applicationTitle());
    return card;
}

} // namespace

QImage MiraTestCard() {
    static const QImage card = drawTestCard();
    return card;
}

bool IsTestCard(const QImage& image) {
    return !image.isNull() && image.cacheKey() == MiraTestCard().cacheKey();
}

} // namespace zantrel
