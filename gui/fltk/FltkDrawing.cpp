#include "gui/fltk/FltkDrawing.h"

#include "gui/TextFit.h"

#include <FL/Fl.H>
#include <FL/fl_draw.H>

#include <cstring>
#include <string>

namespace gui::fltk {

namespace {

void DrawPlain(const Fl_Label *label, int x, int y, int w, int h, Fl_Align align) {
    fl_font(label->font, label->size);
    fl_color(label->color);
    const char *text = label->value;
    std::string shown;
    if (text && !std::strchr(text, '\n') && fl_width(text) > w) {
        shown = ShortenInMiddle(
            text, [w](const std::string &candidate) { return fl_width(candidate.c_str()) <= w; });
        text = shown.c_str();
    }
    fl_draw(text, x, y, w, h, align, label->image, 0);
}

void MeasurePlain(const Fl_Label *label, int &w, int &h) {
    fl_font(label->font, label->size);
    fl_measure(label->value, w, h, 0);
}

void DrawSteadyFlat(int x, int y, int w, int h, Fl_Color color) {
    // The colour as given: FLTK's own flat box greys it while its widget is disabled.
    fl_rectf(x, y, w, h, color);
}

} // namespace

Fl_Labeltype PlainLabel() {
    static const Fl_Labeltype type = [] {
        auto t = static_cast<Fl_Labeltype>(FL_FREE_LABELTYPE);
        Fl::set_labeltype(t, DrawPlain, MeasurePlain);
        return t;
    }();
    return type;
}

Fl_Boxtype SteadyFlatBox() {
    static const Fl_Boxtype type = [] {
        auto t = static_cast<Fl_Boxtype>(FL_FREE_BOXTYPE);
        Fl::set_boxtype(t, DrawSteadyFlat, 0, 0, 0, 0);
        // A pressed button draws the "down" variant of its box: the same here.
        Fl::set_boxtype(fl_down(t), DrawSteadyFlat, 0, 0, 0, 0);
        return t;
    }();
    return type;
}

} // namespace gui::fltk
