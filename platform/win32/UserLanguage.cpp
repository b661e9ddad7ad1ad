#include "platform/Catalogue.h"
#include "platform/CatalogueData.h"

#include <windows.h>

namespace platform {

std::string SystemLanguage() {
    if (*catalogue::kBuiltLanguage)
        return catalogue::kBuiltLanguage;
    // The language of the user's interface as a name such as "de-DE" or "zh-CN".
    wchar_t name[LOCALE_NAME_MAX_LENGTH] = {};
    const LCID locale = MAKELCID(GetUserDefaultUILanguage(), SORT_DEFAULT);
    const int length = LCIDToLocaleName(locale, name, LOCALE_NAME_MAX_LENGTH, 0);
    std::string text;
    for (int i = 0; i + 1 < length && name[i]; ++i)
        text += name[i] < 128 ? static_cast<char>(name[i]) : '?';
    return text;
}

} // namespace platform
