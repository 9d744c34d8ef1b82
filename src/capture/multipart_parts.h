#pragma once

// Capture-private: the pictures of an MJPEG camera's multipart answer, as libcurl hands its body over.

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <vector>

namespace zantrel {

// Splits a multipart body (multipart/x-mixed-replace, or a generic type whose body reads as one) into
// its parts, found by the boundary line the body starts with. A part's declared length is taken only
// where the picture really ends there: some cameras declare a wrong one. No part is buffered beyond
// kMaxPartBytes, and only JPEG parts are accepted.
class MultipartParts {
  public:
    static constexpr qsizetype kMaxPartBytes = 32 * 1024 * 1024;

    // Whether the first bytes of a body look like a multipart body: a boundary line ("--…").
    // Undecided (false, *undecided true) while there are too few bytes to tell.
    static bool looksLikeMultipart(const QByteArray& start, bool* undecided);

    // Takes the next bytes of the body; each complete part's bytes go to parts. False, with the
    // reason, when the body cannot be read further: no boundary, a part too large or not a JPEG.
    bool take(const char* data, std::size_t size, std::vector<QByteArray>& parts, QString* reason);

  private:
    enum class State { Boundary, Headers, Body };
    bool boundary(QString* reason);
    bool headers(QString* reason);
    bool body(std::vector<QByteArray>& parts, QString* reason);

    QByteArray buffer_;
    QByteArray delimiter_; // "--" and the boundary, learnt from the first line
    State state_ = State::Boundary;
    qsizetype declared_ = -1;  // the part's Content-Length, -1 when none
    qsizetype searchFrom_ = 0; // where the search for the next boundary goes on
};

} // namespace zantrel
