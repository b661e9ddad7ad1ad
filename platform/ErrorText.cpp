#include "platform/ErrorText.h"

#include <cerrno>
#include <cstring>

namespace platform {

std::string ErrorNumberText(int code) {
    switch (code) {
    case ECANCELED: return "Operation canceled";
    case ELOOP: return "Too many levels of symbolic links";
    default: return std::strerror(code);
    }
}

} // namespace platform
