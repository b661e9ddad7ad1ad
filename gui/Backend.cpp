#include "gui/Backend.h"

namespace gui {

const char *const *MessageButtonLabels(MessageButtons buttons, int &count) {
    static const char *const ok[] = {"OK"};
    static const char *const yesNo[] = {"&Yes", "&No"};
    static const char *const yesNoCancel[] = {"&Yes", "&No", "Cancel"};
    switch (buttons) {
    case MessageButtons::YesNo:
        count = 2;
        return yesNo;
    case MessageButtons::YesNoCancel:
        count = 3;
        return yesNoCancel;
    case MessageButtons::Ok:
        break;
    }
    count = 1;
    return ok;
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
