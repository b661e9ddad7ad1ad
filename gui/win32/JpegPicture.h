#pragma once

#include "gui/Controls.h"

#include <windows.h>

struct IPicture;

namespace gui::win32 {

// A JPEG image held in memory, decoded by the system's picture object (OleLoadPicture), so
// that the program needs no image library of its own.
class JpegPicture {
  public:
    explicit JpegPicture(const ImageData &image);
    ~JpegPicture();
    JpegPicture(const JpegPicture &) = delete;
    JpegPicture &operator=(const JpegPicture &) = delete;

    bool Valid() const { return picture_ != nullptr; }
    // Draws the whole image stretched to `place`; nothing when it could not be decoded.
    void Draw(HDC dc, const RECT &place) const;

  private:
    IPicture *picture_ = nullptr;
};

} // namespace gui::win32
