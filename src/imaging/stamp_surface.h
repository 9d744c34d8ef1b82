#pragma once

#include <QFont>
#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QString>

namespace zantrel {

// Something that prints text the way a printing surface does: at a print position measured from the
// top-left corner, in the surface's own units, in a fore colour, either letters only (transparent) or
// on a box of the background colour. After printing, the position moves to the left edge one line
// (the printed text's height) lower.
class StampSurface {
  public:
    virtual ~StampSurface() = default;

    virtual float width() const = 0;
    virtual float height() const = 0;
    virtual float textWidth(const QString& text) const = 0;
    virtual float textHeight(const QString& text) const = 0;
    // The widest letter of the surface's own (Latin) characters; 0 when unknown.
    virtual float widestLetter() const { return 0; }

    float printX() const { return x_; }
    float printY() const { return y_; }
    void setPrintPosition(float x, float y) {
        x_ = x;
        y_ = y;
    }
    quint32 foreColor() const { return fore_; }
    void setForeColor(quint32 colour) { fore_ = colour; }
    quint32 backColor() const { return back_; }
    void setBackColor(quint32 colour) { back_ = colour; }
    bool transparent() const { return transparent_; }
    void setTransparent(bool on) { transparent_ = on; }

    void print(const QString& text);

  protected:
    // Draws the text with its top-left corner at (x, y) in the current colours and mode.
    virtual void drawText(float x, float y, const QString& text) = 0;

  private:
    float x_ = 0;
    float y_ = 0;
    quint32 fore_ = 0;
    quint32 back_ = 0xFFFFFF;
    bool transparent_ = true;
};

// A colour laid out 0x00BBGGRR.
QColor colourFromBgr(quint32 bgr);

// The rim drawn round letters printed without a background box: dark, or light for near-black letters.
QColor stampOutline(quint32 foreBgr);

// The stamp font for a frame of the given height: a bold sans face whose size follows the frame, so
// that stamps stay legible from 320 × 200 to 1920 × 1080; another family and a percent of that size
// when given.
QFont stampFont(int frameHeight, const QString& family = {}, int percent = 100);

// Prints on a QImage in pixels; letters without a background box get a thin rim in the outline colour,
// so that they read on any picture. Only the pixels under the text are touched. The ink of the last
// lines printed (and of the last picture laid on) is kept for all surfaces and not worked out again
// while the text, font, colour and spot on the pixel grid (the picture and its opacity) stay the same. The
// image must outlive the surface and must not be painted on by anyone else meanwhile. Usable on any thread
// while a QGuiApplication exists.
class ImageStampSurface final : public StampSurface {
  public:
    ImageStampSurface(QImage& image, const QFont& font);

    float width() const override { return width_; }
    float height() const override { return height_; }
    float textWidth(const QString& text) const override;
    float textHeight(const QString& text) const override;
    float widestLetter() const override { return widest_; }
    // Lays a picture (transparency kept) on the image at `at`, with an opacity from 0 to 1.
    void drawImage(const QPoint& at, const QImage& picture, qreal opacity);

  protected:
    void drawText(float x, float y, const QString& text) override;

  private:
    // The painter on the image, begun when first needed: the usual camera formats are blended in
    // place without one.
    QPainter& painter();

    float width_;
    float height_;
    QImage& image_;
    QPainter painter_;
    QFont font_;
    QFontMetricsF metrics_;
    float widest_;
    mutable QString lastMeasured_;
    mutable float lastWidth_ = 0;
    qreal outlineWidth_; // of the rim outside the letters, in pixels
};

} // namespace zantrel
