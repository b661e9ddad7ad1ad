#include "gui/win32/JpegPicture.h"

#include <ole2.h>
#include <olectl.h>

#include <cstring>

namespace gui::win32 {

JpegPicture::JpegPicture(const ImageData &image) {
    if (!image.bytes || image.size == 0)
        return;
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, image.size);
    if (!memory)
        return;
    if (void *bytes = GlobalLock(memory)) {
        std::memcpy(bytes, image.bytes, image.size);
        GlobalUnlock(memory);
    }
    IStream *stream = nullptr;
    // The stream frees the memory when it is released.
    if (FAILED(CreateStreamOnHGlobal(memory, TRUE, &stream))) {
        GlobalFree(memory);
        return;
    }
    void *picture = nullptr;
    if (SUCCEEDED(
            OleLoadPicture(stream, static_cast<LONG>(image.size), FALSE, IID_IPicture, &picture)))
        picture_ = static_cast<IPicture *>(picture);
    stream->Release();
}

JpegPicture::~JpegPicture() {
    if (picture_)
        picture_->Release();
}

void JpegPicture::Draw(HDC dc, const RECT &place) const {
    if (!picture_)
        return;
    OLE_XSIZE_HIMETRIC width = 0;
    OLE_YSIZE_HIMETRIC height = 0;
    picture_->get_Width(&width);
    picture_->get_Height(&height);
    // Smooth when scaled for a higher DPI; at 96 DPI it is drawn pixel for pixel.
    SetStretchBltMode(dc, HALFTONE);
    SetBrushOrgEx(dc, 0, 0, nullptr);
    // The source rectangle is in HIMETRIC units, with the y axis pointing up.
    picture_->Render(dc, place.left, place.top, place.right - place.left, place.bottom - place.top,
                     0, height, width, -height, nullptr);
}

} // namespace gui::win32
