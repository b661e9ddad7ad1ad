#include "gui/Application.h"

#include "gui/PlainText.h"
#include "gui/headless/HeadlessBackend.h"

#include <gtest/gtest.h>

namespace {

using namespace gui;

// Counts what reaches the backend, to check that unchanged values are not passed on.
class CountingBackend : public HeadlessBackend {
  public:
    int controlChanges = 0;
    int captionChanges = 0;
    int titleChanges = 0;
    void ControlChanged(Control &, Property) override { ++controlChanges; }
    void FormChanged(Form &, Property what) override {
        if (what == Property::Caption)
            ++captionChanges;
    }
    void ApplicationChanged(Application &, Property what) override {
        if (what == Property::Title)
            ++titleChanges;
    }
};

std::unique_ptr<Backend> MakeCounting(CountingBackend *&out) {
    auto backend = std::make_unique<CountingBackend>();
    out = backend.get();
    return backend;
}

struct ToolkitTest : ::testing::Test {
    CountingBackend *backend = nullptr;
    Application app{MakeCounting(backend)};
    Form &form = app.CreateForm("Form", 200, 100);
};

TEST_F(ToolkitTest, UnchangedCaptionsAndTitlesAreNotPassedOn) {
    form.SetCaption("Downloading 1%");
    form.SetCaption("Downloading 1%");
    form.SetCaption("Downloading 2%");
    EXPECT_EQ(backend->captionChanges, 2);
    app.SetTitle("x 1%");
    app.SetTitle("x 1%");
    EXPECT_EQ(backend->titleChanges, 1);
    Label &label = form.AddLabel("lbl", {}, "a");
    int before = backend->controlChanges;
    label.SetCaption("a");
    label.SetVisible(true);
    label.SetEnabled(true);
    EXPECT_EQ(backend->controlChanges, before);
}

TEST_F(ToolkitTest, ACheckBoxRunsItsHandlerOnlyWhenItsCheckChanges) {
    CheckBox &check = form.AddCheckBox("cb", {}, "&Check");
    int clicks = 0;
    check.OnClick = [&] { ++clicks; };
    check.SetChecked(false);
    EXPECT_EQ(clicks, 0);
    check.SetChecked(true);
    check.SetChecked(true);
    EXPECT_EQ(clicks, 1);
    check.Click();
    EXPECT_FALSE(check.Checked());
    EXPECT_EQ(clicks, 2);
    check.SetEnabled(false);
    check.Click();
    EXPECT_FALSE(check.Checked()) << "a disabled box ignores the user";
    check.SetChecked(true);
    EXPECT_TRUE(check.Checked()) << "but the program may still set it";
}

TEST_F(ToolkitTest, HiddenOrDisabledButtonsIgnoreClicks) {
    Button &button = form.AddButton("btn", {}, "&Go");
    int clicks = 0;
    button.OnClick = [&] { ++clicks; };
    button.Click();
    button.SetEnabled(false);
    button.Click();
    button.SetEnabled(true);
    button.SetVisible(false);
    button.Click();
    EXPECT_EQ(clicks, 1);
    Button &unassigned = form.AddButton("none", {}, "None");
    unassigned.Click(); // an unassigned handler is skipped
}

TEST_F(ToolkitTest, ComboBoxesKeepTextAndItemIndexTogether) {
    ComboBox &editable =
        form.AddComboBox("cbE", {}, ComboStyle::Editable, {"0", "10", "Unlimited"});
    editable.SetText("10");
    EXPECT_EQ(editable.ItemIndex(), 1);
    editable.SetText("250");
    EXPECT_EQ(editable.ItemIndex(), -1);
    EXPECT_EQ(editable.Text(), "250");
    editable.SetItemIndex(2);
    EXPECT_EQ(editable.Text(), "Unlimited");

    ComboBox &list = form.AddComboBox("cbL", {}, ComboStyle::DropDownList, {"Pause", "Prompt"});
    EXPECT_EQ(list.ItemIndex(), -1);
    EXPECT_EQ(list.Text(), "");
    list.SetItemIndex(1);
    EXPECT_EQ(list.Text(), "Prompt");
    list.SetText("Anything");
    EXPECT_EQ(list.ItemIndex(), -1) << "a list holds only its items";
    EXPECT_EQ(list.Text(), "");
    list.SetItemIndex(7);
    EXPECT_EQ(list.ItemIndex(), -1);
}

TEST_F(ToolkitTest, TheProgressBarKeepsItsPositionWithinItsRange) {
    ProgressBar &bar = form.AddProgressBar("pb", {});
    bar.SetRange(-100, 100);
    bar.SetPosition(-100);
    EXPECT_EQ(bar.Position(), -100);
    bar.SetPosition(int64_t{1} << 40);
    EXPECT_EQ(bar.Position(), 100);
    bar.SetRange(0, 50);
    EXPECT_EQ(bar.Position(), 50);
    bar.SetPosition(-5);
    EXPECT_EQ(bar.Position(), 0);
}

TEST_F(ToolkitTest, AcceleratorsComeFromTheAmpersandInCaptions) {
    EXPECT_EQ(AcceleratorOf("&Options"), 'o');
    EXPECT_EQ(AcceleratorOf("O&pen"), 'p');
    EXPECT_EQ(AcceleratorOf("Cancel"), '\0');
    EXPECT_EQ(AcceleratorOf("Tom && &Jerry"), 'j');
    EXPECT_EQ(AcceleratorOf("trailing&"), '\0');
    EXPECT_EQ(StripAccelerator("Tom && &Jerry"), "Tom & Jerry");
    EXPECT_EQ(StripAccelerator("C&ancel"), "Cancel");

    Button &pause = form.AddButton("pause", {}, "&Pause");
    Button &open = form.AddButton("open", {}, "O&pen");
    Edit &edit = form.AddEdit("edit", {});
    form.AddLabel("label", {}, "&Server", &edit);
    CheckBox &check = form.AddCheckBox("check", {}, "O&verride");
    int pauses = 0, opens = 0;
    pause.OnClick = [&] { ++pauses; };
    open.OnClick = [&] { ++opens; };
    open.SetVisible(false);
    EXPECT_TRUE(form.PressAccelerator('p'));
    pause.SetVisible(false);
    open.SetVisible(true);
    EXPECT_TRUE(form.PressAccelerator('p'));
    EXPECT_EQ(pauses, 1);
    EXPECT_EQ(opens, 1);
    EXPECT_TRUE(form.PressAccelerator('s'));
    EXPECT_TRUE(edit.Focused());
    EXPECT_TRUE(form.PressAccelerator('v'));
    EXPECT_TRUE(check.Checked());
    EXPECT_TRUE(check.Focused());
    EXPECT_FALSE(form.PressAccelerator('z'));
}

TEST_F(ToolkitTest, TabOrderPutsTheGivenControlsFirstAndSkipsThoseWithoutFocus) {
    Button &a = form.AddButton("a", {}, "A");
    form.AddLabel("l", {}, "L");
    Button &b = form.AddButton("b", {}, "B");
    ProgressBar &pb = form.AddProgressBar("pb", {});
    Edit &c = form.AddEdit("c", {});
    form.SetTabOrder({&pb, &b, &a});
    EXPECT_EQ(form.TabOrder(), (std::vector<Control *>{&b, &a, &c}));
}

TEST_F(ToolkitTest, FormsShowRunTheirHandlersAndCloseOnce) {
    int shows = 0, closes = 0;
    form.OnShow = [&] { ++shows; };
    form.OnClose = [&] { ++closes; };
    form.Show();
    form.Show();
    EXPECT_TRUE(form.Visible());
    form.Close();
    form.Close();
    EXPECT_EQ(shows, 1);
    EXPECT_EQ(closes, 1);
    EXPECT_THROW(form.Get<Button>("missing"), std::logic_error);
}

TEST_F(ToolkitTest, AModalDialogsCloseBoxIsItsCancelButton) {
    Form &dialog = app.CreateForm("Dialog", 100, 100);
    Button &cancel = dialog.AddButton("cancel", {}, "Cancel");
    Button &ok = dialog.AddButton("ok", {}, "OK");
    int cancels = 0, oks = 0;
    cancel.OnClick = [&] {
        ++cancels;
        dialog.Close();
    };
    ok.OnClick = [&] {
        ++oks;
        dialog.Close();
    };
    dialog.SetCancelButton(&cancel);
    dialog.SetDefaultButton(&ok);
    backend->modalScripts.push_back([](Form &f) { f.PressCloseBox(); });
    backend->modalScripts.push_back([](Form &f) { f.PressEnter(); });
    backend->modalScripts.push_back([](Form &) {}); // left open: closed by the backend
    dialog.ShowModal();
    dialog.ShowModal();
    dialog.ShowModal();
    EXPECT_EQ(cancels, 1);
    EXPECT_EQ(oks, 1);
    EXPECT_EQ(backend->modalsLeftOpen, 1);
    EXPECT_FALSE(dialog.Visible());
    EXPECT_FALSE(dialog.Modal());
}

TEST_F(ToolkitTest, MessageBoxesAreAnsweredFromTheScriptThenWithTheFirstButton) {
    backend->answers = {MessageResult::No};
    EXPECT_EQ(app.MessageBox("q?", "Prerequisites", MessageButtons::YesNo), MessageResult::No);
    EXPECT_EQ(app.MessageBox("q?", "Connection error", MessageButtons::YesNoCancel),
              MessageResult::Yes);
    EXPECT_EQ(app.MessageBox("done", "ERROR", MessageButtons::Ok), MessageResult::Ok);
    ASSERT_EQ(backend->messages.size(), 3u);
    EXPECT_EQ(backend->messages[1].caption, "Connection error");
    EXPECT_EQ(backend->messages[1].buttons, MessageButtons::YesNoCancel);
}

TEST(MessageButtons, LabelsAndAnswersFollowTheScreenOrder) {
    int count = 0;
    const char *const *labels = MessageButtonLabels(MessageButtons::YesNoCancel, count);
    ASSERT_EQ(count, 3);
    EXPECT_STREQ(labels[0], "&Yes");
    EXPECT_STREQ(labels[2], "Cancel");
    EXPECT_EQ(MessageButtonResult(MessageButtons::YesNoCancel, 2), MessageResult::Cancel);
    EXPECT_EQ(MessageButtonResult(MessageButtons::YesNo, 1), MessageResult::No);
    EXPECT_EQ(MessageButtonResult(MessageButtons::Ok, 0), MessageResult::Ok);
}

TEST_F(ToolkitTest, ControlCharactersNeverReachTheScreen) {
    // A caption, a title and a box from the network keep their line ends, nothing else.
    Label &label = form.AddLabel("l", {}, "");
    label.SetCaption("HTTP 503 \x1b]0;x\x07\x1b[2J\xc2\x9b"
                     "1m\x7f\r\nnext");
    EXPECT_EQ(label.Caption(), "HTTP 503 ?]0;x??[2J?1m?\r\nnext");
    form.SetCaption("Download \x1b[1mPelko");
    EXPECT_EQ(form.Caption(), "Download ?[1mPelko");
    app.SetTitle("\x1b]2;t\x07Pelko download");
    EXPECT_EQ(app.Title(), "?]2;t?Pelko download");
    EXPECT_EQ(Printable("caf\xc3\xa9 \xe2\x82\xac"), "caf\xc3\xa9 \xe2\x82\xac") << "UTF-8 stays";
}

} // namespace
