#include "platform/ErrorText.h"

#include "platform/Catalogue.h"
#include <cerrno>
#include <cstring>

namespace platform {

std::string ErrorNumberText(int code) {
    switch (code) {
    case ECANCELED:
        return Tr("Operation canceled");
    case ELOOP:
        return Tr("Too many levels of symbolic links");
    default: return std::strerror(code);
    }
}

} // namespace platform
