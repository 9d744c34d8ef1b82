#pragma once

#include <QImage>
#include <QtGlobal>
#include <cstddef>
#include <memory>
#include <optional>
#include <stdexcept>

namespace zantrel {

class MessageSink;

// Raised when a pixel access falls outside the image or an index computation overflows. Nothing is
// written outside the buffer before it is raised.
class ImageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Byte-wise raster operations of a blit, with the platform's codes (S = source, D = destination).
enum class RasterOp : quint32 {
    SrcCopy = 0x00CC0020,     // S
    SrcPaint = 0x00EE0086,    // S | D
    SrcAnd = 0x008800C6,      // S & D
    SrcInvert = 0x00660046,   // S ^ D
    SrcErase = 0x00440328,    // S & ~D
    NotSrcCopy = 0x00330008,  // ~S
    NotSrcErase = 0x001100A6, // ~(S | D)
    DstInvert = 0x00550009,   // ~D
    Blackness = 0x00000042,   // 0
    Whiteness = 0x00FF0062,   // 1
};

// The header that described the image at creation (the fields of a BITMAPINFOHEADER that mean
// something here). Kept after ClearUp.
struct BitmapHeader {
    quint32 size = 40;
    qint32 width = 0;
    qint32 height = 0;
    quint16 planes = 1;
    quint16 bitCount = 24;
    quint32 compression = 0;
    quint32 sizeImage = 0;
};

// The program's in-memory true-colour image: 24 bits per pixel, blue-green-red, rows padded to a multiple
// of four bytes, the first stored row being the bottom row of the picture. The object owns its pixel
// buffer; ClearUp and destruction release it. Width and Height report the last created size, also after
// ClearUp. Drawing surfaces are QImages (top row first, any of the usual formats).
class cDIBSection {
  public:
    cDIBSection() = default;
    ~cDIBSection() { ClearUp(); }
    cDIBSection(cDIBSection&& other) noexcept;
    cDIBSection& operator=(cDIBSection&& other) noexcept;
    cDIBSection(const cDIBSection&) = delete;
    cDIBSection& operator=(const cDIBSection&) = delete;

    // Puts a copy of the image on the clipboard as a bitmap; true when the clipboard holds it. Asked for
    // a DIB, it tells the user it cannot and returns false without touching the clipboard. Needs a
    // QGuiApplication and its thread.
    bool CopyToClipboard(MessageSink& messages, bool bAsDIB = false) const;

    // Fills the header for lWidth × lHeight and allocates a zeroed pixel buffer into hDib; true when the
    // buffer exists. Sizes that are not positive, or whose buffer size does not fit 32 bits, fail.
    bool CreateDIB(qint32 lWidth, qint32 lHeight, std::unique_ptr<quint8[]>& hDib);
    // Releases the old image, then makes a black one of the given size.
    bool Create(qint32 lWidth, qint32 lHeight);
    // Makes an image of the picture's size holding its pixels; an unusable picture leaves the object empty.
    void CreateFromPicture(const QImage& picThis);

    qint32 BytesPerScanLine() const { return scanLineBytes(header_.width); }
    qint32 Width() const { return header_.width; }
    qint32 Height() const { return header_.height; }
    const BitmapHeader& Header() const { return header_; }

    // Copies from the surface at (lSrcLeft, lSrcTop) into this image at (0, 0); a negative size means
    // this image's width or height. Parts outside either image are left alone. False when the operation
    // is not one of RasterOp or the object is empty.
    bool LoadPictureBlt(const QImage& source, qint32 lSrcLeft = 0, qint32 lSrcTop = 0, qint32 lSrcWidth = -1,
                        qint32 lSrcHeight = -1, RasterOp eRop = RasterOp::SrcCopy);
    bool LoadPictureBlt(const cDIBSection& source, qint32 lSrcLeft = 0, qint32 lSrcTop = 0,
                        qint32 lSrcWidth = -1, qint32 lSrcHeight = -1, RasterOp eRop = RasterOp::SrcCopy);
    // Copies from this image at (lSrcLeft, lSrcTop) to the surface at (lDestLeft, lDestTop); a negative
    // size means this image's width or height. The surface must be BGR888, RGB888, RGB32, ARGB32 or
    // ARGB32_Premultiplied; false otherwise.
    bool PaintPicture(QImage& target, qint32 lDestLeft = 0, qint32 lDestTop = 0, qint32 lDestWidth = -1,
                      qint32 lDestHeight = -1, qint32 lSrcLeft = 0, qint32 lSrcTop = 0,
                      RasterOp eRop = RasterOp::SrcCopy) const;

    // The bitmap: true while the object holds an image.
    bool hDib() const { return bits_ != nullptr; }
    // Address of the first pixel byte (bottom row, leftmost pixel, blue); null when empty.
    quint8* DIBSectionBitsPtr() { return bits_.get(); }
    const quint8* DIBSectionBitsPtr() const { return bits_.get(); }

    // Noise seeded from the time of day: green and red only, or one grey value per pixel.
    void RandomiseBits(bool bGray = false);

    // Releases the pixel buffer; the header stays.
    void ClearUp();

    // A bilinear resample to the new size (height first). Nothing when the new image cannot be made;
    // ImageError when the source cannot be interpolated (one pixel wide or high).
    std::optional<cDIBSection> Resample(qint32 lNewHeight, qint32 lNewWidth) const;

    // Checked access to byte `column` of stored row `row` (row 0 = bottom row of the picture).
    quint8& at(qint64 column, qint64 row);
    quint8 at(qint64 column, qint64 row) const;

    // A top-down copy of the picture (Format_BGR888); null when empty.
    QImage ToImage() const;

    // (width × 3 + 3) with the two low bits cleared; widths too large for 32 bits give 0.
    static qint32 scanLineBytes(qint32 width);

  private:
    void ResampleInto(cDIBSection& target) const;
    bool makeBuffer(qint32 lWidth, qint32 lHeight, std::unique_ptr<quint8[]>& hDib, bool zeroed);
    quint8* row(qint32 r) { return bits_.get() + std::size_t(r) * std::size_t(BytesPerScanLine()); }
    const quint8* row(qint32 r) const {
        return bits_.get() + std::size_t(r) * std::size_t(BytesPerScanLine());
    }

    std::unique_ptr<quint8[]> bits_;
    BitmapHeader header_;
};

} // namespace zantrel
