#include "platform/Catalogue.h"
#include "platform/CatalogueData.h"

#include <cstdlib>

namespace platform {

std::string SystemLanguage() {
    if (*catalogue::kBuiltLanguage)
        return catalogue::kBuiltLanguage;
    // The variables in the order in which they override each other.
    for (const char *name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char *value = std::getenv(name);
        if (value && *value)
            return value;
    }
    return "";
}

} // namespace platform
