#include "app/Resources.h"

#include <cstddef>

// Embedded at build time from app/resources/ (see app/CMakeLists.txt).
extern const unsigned char download_jpg[];
extern const std::size_t download_jpg_size;
extern const unsigned char icon_jpg[];
extern const std::size_t icon_jpg_size;

gui::ImageData DownloadPicture() {
    return {download_jpg, download_jpg_size};
}

gui::ImageData ProgramIcon() {
    return {icon_jpg, icon_jpg_size};
}
