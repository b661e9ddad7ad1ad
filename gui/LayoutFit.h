#pragma once

#include <functional>
#include <string>

namespace gui {

class Control;
class Form;

// Makes room for the captions of a form's controls (the widths a language's texts need), before
// the form is first shown. A control whose caption needs more width than it has grows by the
// difference, with every control that shares its place (buttons shown in turn); the controls
// to its right in its rows move right by as much, a group box around it grows with it, and the
// form grows to keep its right margin. What reached the right side of its group or of the form
// stretches with it, keeping its gap to that side: a row of text or a bar keeps ending where
// the buttons end, and a group's fields where the group ends.
// `needed` gives a control's width for its caption (0: any width will do). Heights stay.
void FitCaptions(Form &form, const std::function<int(const Control &)> &needed);

// What a backend's controls add to the width of their text, in the form's pixels.
struct CaptionRoom {
    int button;    // a push button's margins around its caption
    int label;     // a label's margins
    int checkBox;  // a check box's box and the gap to its caption
    int group;     // a group box's frame and the margins around its title
    int comboBox;  // a drop-down list's arrow and margins
};

// The width `control` needs to show its caption whole (its texts to come too: SizingTexts),
// with `textWidth` measuring a text as the backend draws it; 0 where any width will do. A
// plain label's caption may be a name or a path, shortened in the middle when drawn: it asks
// for half as much again as it has at most. A group's title check box is sized by its group.
int NeededCaptionWidth(const Control &control,
                       const std::function<int(const std::string &)> &textWidth,
                       const CaptionRoom &room);

// Whether the control is the check box that titles a group box.
bool IsTitleCheckBox(const Control &control);
// Whether the control is a label without an accelerator (no field of its own): its text is
// drawn as it is, and shortened in the middle when it is too long for one line.
bool IsPlainLabel(const Control &control);

} // namespace gui
