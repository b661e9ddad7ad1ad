#include "gui/Application.h"
#include "gui/LayoutFit.h"
#include "gui/headless/HeadlessBackend.h"

#include <gtest/gtest.h>

namespace {

using namespace gui;

struct LayoutFitTest : ::testing::Test {
    Application app{std::make_unique<HeadlessBackend>()};
    Form &form = app.CreateForm("Form", 410, 92);
    // Captions that need 7 pixels a character, as a long language's would.
    void Fit() {
        FitCaptions(form, [](const Control &control) {
            return static_cast<int>(control.Caption().size()) * 7;
        });
    }
};

std::vector<int> Lefts(const std::vector<Control *> &controls) {
    std::vector<int> lefts;
    for (const Control *control : controls)
        lefts.push_back(control->Place().left);
    return lefts;
}

TEST_F(LayoutFitTest, AWideCaptionWidensItsPlaceAndMovesTheRowAndTheForm) {
    // The main window's shape: a bar reaching the right side, buttons sharing places.
    Control &bar = form.AddProgressBar("bar", {66, 4, 337, 21});
    Control &run = form.AddButton("run", {88, 63, 75, 25}, "Run");
    Control &pause = form.AddButton("pause", {168, 63, 75, 25}, "Pause");
    Control &resume = form.AddButton("resume", {168, 63, 75, 25}, "Fortsetzen!!"); // 84 px
    Control &options = form.AddButton("options", {248, 63, 75, 25}, "Options");
    Control &cancel = form.AddButton("cancel", {328, 63, 75, 25}, "Cancel");
    Fit();
    EXPECT_EQ(pause.Place().width, 84);
    EXPECT_EQ(resume.Place().width, 84);
    EXPECT_EQ(run.Place().width, 75);
    EXPECT_EQ(Lefts({&run, &pause, &options, &cancel}), (std::vector<int>{88, 168, 257, 337}));
    EXPECT_EQ(form.ClientWidth(), 419);      // the right margin kept
    EXPECT_EQ(bar.Place().width, 337 + 9);  // still ending where the buttons end
}

TEST_F(LayoutFitTest, AGroupGrowsWithWhatItHoldsAndPushesItsNeighbours) {
    Control &group = form.AddGroupBox("group", {8, 8, 200, 60}, "");
    Control &box = form.AddCheckBox("box", {16, 24, 150, 17}, std::string(30, 'x')); // 210 px
    Control &below = form.AddCheckBox("below", {16, 44, 150, 17}, "short");
    Control &beside = form.AddButton("beside", {300, 30, 75, 25}, "OK");
    Fit();
    EXPECT_EQ(box.Place().width, 210);
    EXPECT_EQ(group.Place().width, 260);
    EXPECT_EQ(below.Place().width, 150);
    EXPECT_EQ(beside.Place().left, 360);
    EXPECT_EQ(form.ClientWidth(), 410 + 60);
}

TEST_F(LayoutFitTest, GroupsThatReachedTheRightSideStretchWithTheirFields) {
    Control &grown = form.AddGroupBox("grown", {8, 8, 394, 40}, "");
    // Two buttons shown in turn at the side, and one beside them: the row moves over once.
    Control &ok = form.AddButton("ok", {247, 63, 75, 25}, "OK");
    Control &cancel = form.AddButton("cancel", {327, 63, 75, 25}, "Cancel");
    Control &close = form.AddButton("close", {327, 63, 75, 26}, "Close");
    form.AddCheckBox("box", {16, 24, 300, 17}, std::string(50, 'x')); // 350 px
    Control &other = form.AddGroupBox("other", {8, 56, 394, 40}, "");
    Control &field = form.AddEdit("field", {16, 72, 378, 20});
    Control &narrow = form.AddEdit("narrow", {16, 72, 100, 20});
    Fit();
    EXPECT_EQ(grown.Place().width, 444);
    EXPECT_EQ(other.Place().width, 444);   // the groups end alike
    EXPECT_EQ(field.Place().width, 428);   // 8 pixels from its group's side, as before
    EXPECT_EQ(narrow.Place().width, 100);  // far from the side: as it was
    EXPECT_EQ(Lefts({&ok, &cancel, &close}), (std::vector<int>{297, 377, 377}));
    EXPECT_EQ(form.ClientWidth(), 460);
}

TEST_F(LayoutFitTest, CaptionsThatFitChangeNothing) {
    Control &button = form.AddButton("ok", {328, 63, 75, 25}, "OK");
    Fit();
    EXPECT_EQ(button.Place().width, 75);
    EXPECT_EQ(form.ClientWidth(), 410);
}

} // namespace
