#include "gui/Backend.h"

#include "platform/Catalogue.h"

namespace gui {

const char *const *MessageButtonLabels(MessageButtons buttons, int &count) {
    // Yes, No and Cancel; Yes and No; or OK.
    static const char *const kKeys[] = {
        // TRANSLATORS: a message box's button; "&" marks its access key, which also answers
        // the console's question "[Y]es / [N]o / [C]ancel": unique among Yes, No and Cancel.
        platform::TrKey("&Yes"),
        // TRANSLATORS: a message box's button; "&" marks its access key, which also answers
        // the console's question "[Y]es / [N]o / [C]ancel": unique among Yes, No and Cancel.
        platform::TrKey("&No"),
        // TRANSLATORS: a message box's button; having no "&", its first letter answers the
        // console's question "[Y]es / [N]o / [C]ancel": unique among Yes, No and Cancel.
        platform::TrKey("Cancel"),
        // TRANSLATORS: a message box's only button.
        platform::TrKey("OK"),
    };
    const std::size_t first = buttons == MessageButtons::Ok ? 3 : 0;
    count = buttons == MessageButtons::Ok ? 1 : buttons == MessageButtons::YesNo ? 2 : 3;
    // Looked up for every box, in the language chosen.
    thread_local const char *labels[3];
    for (int i = 0; i < count; ++i)
        labels[i] = platform::Tr(kKeys[first + static_cast<std::size_t>(i)]);
    return labels;
}

MessageResult MessageButtonResult(MessageButtons buttons, int index) {
    switch (buttons) {
    case MessageButtons::YesNo:
        return index == 0 ? MessageResult::Yes : MessageResult::No;
    case MessageButtons::YesNoCancel:
        return index == 0 ? MessageResult::Yes
                          : (index == 1 ? MessageResult::No : MessageResult::Cancel);
    case MessageButtons::Ok:
        break;
    }
    return MessageResult::Ok;
}

} // namespace gui
