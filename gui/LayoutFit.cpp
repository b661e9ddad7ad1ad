#include "gui/LayoutFit.h"

#include "gui/Form.h"

#include <algorithm>
#include <vector>

namespace gui {
namespace {

int Right(const Bounds &b) {
    return b.left + b.width;
}
int Bottom(const Bounds &b) {
    return b.top + b.height;
}
bool RowsOverlap(const Bounds &a, const Bounds &b) {
    return a.top < Bottom(b) && b.top < Bottom(a);
}
bool SamePlace(const Bounds &a, const Bounds &b) {
    return a.left == b.left && a.top == b.top && a.width == b.width;
}
bool Contains(const Bounds &outer, const Bounds &inner) {
    return outer.left <= inner.left && Right(inner) <= Right(outer) && outer.top <= inner.top &&
           Bottom(inner) <= Bottom(outer);
}

// One widening of a place: what was there, and by how much it grew.
struct Growth {
    Bounds was;
    int by;
};

} // namespace

bool IsTitleCheckBox(const Control &control) {
    for (const auto &other : control.OwnerForm().Controls())
        if (other->Kind() == ControlKind::GroupBox &&
            static_cast<const GroupBox &>(*other).TitleCheckBox() == &control)
            return true;
    return false;
}

bool IsPlainLabel(const Control &control) {
    return control.Kind() == ControlKind::Label &&
           !static_cast<const Label &>(control).FocusControl();
}

int NeededCaptionWidth(const Control &control,
                       const std::function<int(const std::string &)> &textWidth,
                       const CaptionRoom &room) {
    const std::string caption = StripAccelerator(control.Caption());
    switch (control.Kind()) {
    case ControlKind::Button:
        return textWidth(caption) + room.button;
    case ControlKind::Label: {
        int widest = IsPlainLabel(control)
                         ? std::min(textWidth(control.Caption()), control.Place().width * 3 / 2)
                         : textWidth(caption) + room.label;
        for (const std::string &text : control.SizingTexts())
            widest = std::max(widest, textWidth(text) + room.label);
        return widest;
    }
    case ControlKind::CheckBox:
        return IsTitleCheckBox(control) ? 0 : textWidth(caption) + room.checkBox;
    case ControlKind::GroupBox: {
        const CheckBox *title = static_cast<const GroupBox &>(control).TitleCheckBox();
        return room.group + (title ? textWidth(StripAccelerator(title->Caption())) + room.checkBox
                                   : textWidth(caption));
    }
    case ControlKind::ComboBox: {
        int widest = 0;
        for (const std::string &item : static_cast<const ComboBox &>(control).Items())
            widest = std::max(widest, textWidth(item));
        return widest + room.comboBox;
    }
    default:
        return 0;
    }
}

void FitCaptions(Form &form, const std::function<int(const Control &)> &needed) {
    std::vector<Control *> controls;
    for (const auto &control : form.Controls())
        controls.push_back(control.get());
    int oldRight = 0;
    for (Control *control : controls)
        oldRight = std::max(oldRight, Right(control->Place()));
    const int margin = std::max(0, form.ClientWidth() - oldRight);
    // Each control is measured once: the measure (a backend's text extent) is the costly part.
    std::vector<Bounds> original;
    std::vector<int> need;
    for (Control *control : controls) {
        original.push_back(control->Place());
        need.push_back(needed(*control));
    }

    // The places from left to right: a move to the right is made before the moved place is
    // looked at.
    std::vector<size_t> order(controls.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return controls[a]->Place().left < controls[b]->Place().left;
    });
    for (size_t i : order) {
        const Bounds place = controls[i]->Place();
        int want = 0;
        for (size_t j = 0; j < controls.size(); ++j)
            if (SamePlace(controls[j]->Place(), place))
                want = std::max(want, need[j]);
        if (want <= place.width)
            continue;
        // The place grows, then each group around it, by the same amount; each other control
        // moves once.
        std::vector<Growth> pending{{place, want - place.width}};
        std::vector<bool> done(controls.size(), false);
        while (!pending.empty()) {
            const Growth growth = pending.back();
            pending.pop_back();
            for (size_t j = 0; j < controls.size(); ++j) {
                if (done[j])
                    continue;
                Bounds b = controls[j]->Place();
                if (SamePlace(b, growth.was)) {
                    b.width += growth.by;
                } else if (controls[j]->Kind() == ControlKind::GroupBox &&
                           Contains(b, growth.was)) {
                    pending.push_back({b, growth.by});
                    continue; // grows when its own growth is taken
                } else if (b.left >= Right(growth.was) && RowsOverlap(b, growth.was)) {
                    b.left += growth.by;
                } else {
                    continue;
                }
                controls[j]->SetPlace(b);
                done[j] = true;
            }
        }
    }

    int newRight = 0;
    for (Control *control : controls)
        newRight = std::max(newRight, Right(control->Place()));
    if (newRight <= oldRight)
        return;
    // What reached the right side of its group (or of the form) ends as near that side as it
    // did: a group that the form's growth widens takes its rows of fields with it. Groups come
    // before what they hold, so that the held see their group's new right side.
    std::vector<size_t> outerFirst(controls.size());
    for (size_t i = 0; i < outerFirst.size(); ++i)
        outerFirst[i] = i;
    const auto area = [&](size_t i) {
        return static_cast<long>(original[i].width) * original[i].height;
    };
    std::stable_sort(outerFirst.begin(), outerFirst.end(),
                     [&](size_t a, size_t b) { return area(a) > area(b); });
    std::vector<Growth> buttonRows; // a right-side button's place, and how far its row moves
    for (size_t j : outerFirst) {
        // The smallest group around the control, as the layout was written.
        int group = -1;
        for (size_t g = 0; g < controls.size(); ++g)
            if (g != j && controls[g]->Kind() == ControlKind::GroupBox &&
                Contains(original[g], original[j]) &&
                (group < 0 || area(g) < area(static_cast<size_t>(group))))
                group = static_cast<int>(g);
        const int sideWas = group < 0 ? oldRight : Right(original[static_cast<size_t>(group)]);
        const int sideNow =
            group < 0 ? newRight : Right(controls[static_cast<size_t>(group)]->Place());
        const int gap = sideWas - Right(original[j]);
        Bounds b = controls[j]->Place();
        if (gap < 0 || gap > 12 || Right(b) >= sideNow - gap)
            continue;
        // A row of buttons keeps its size and moves over to the side.
        if (controls[j]->Kind() == ControlKind::Button) {
            buttonRows.push_back({b, sideNow - gap - Right(b)});
            continue;
        }
        b.width = sideNow - gap - b.left;
        controls[j]->SetPlace(b);
    }
    // Each button moves once, also when several share the place at the side (Cancel, Close).
    std::vector<bool> rowMoved(controls.size(), false);
    for (const Growth &row : buttonRows)
        for (size_t j = 0; j < controls.size(); ++j) {
            Bounds b = controls[j]->Place();
            if (rowMoved[j] || controls[j]->Kind() != ControlKind::Button ||
                !RowsOverlap(b, row.was) || Right(b) > Right(row.was))
                continue;
            b.left += row.by;
            controls[j]->SetPlace(b);
            rowMoved[j] = true;
        }
    form.SetClientSize(newRight + margin, form.ClientHeight());
}

} // namespace gui
