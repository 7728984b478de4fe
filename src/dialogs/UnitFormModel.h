#pragma once
// The form model: a dialog holds its components as data and its handlers as methods, so that any form host
// (the page of the gadget host, or a scripted host in tests) can draw it and play the user's actions.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

enum class TComponentKind {
    Label,
    Edit,
    Button,
    CheckBox,
    ComboBox, // Style says whether free text is allowed
    GroupBox,
    Panel,
    TreeView,
    ProgressBar,
    Timer,
};

const char* ComponentKindName(TComponentKind kind);

enum class TComboBoxStyle { DropDown, DropDownList };
enum class TFormPosition { Designed, ScreenCenter, DesktopCenter };

// Modal results, numbered as the dialogs' callers expect.
constexpr int mrNone = 0;
constexpr int mrOk = 1;
constexpr int mrCancel = 2;

// 0x00BBGGRR, as colours are given in the design; -1 is the default colour of the kind.
using TColor = int32_t;
constexpr TColor clDefault = -1;
constexpr TColor RGBColor(int r, int g, int b) {
    return r | (g << 8) | (b << 16);
}

struct TFont {
    std::string Name = "MS Sans Serif";
    int Size = 8;
    bool Bold = false;
    bool Underline = false;
    TColor Color = clDefault;
};

struct TBounds {
    int Left = 0, Top = 0, Width = 0, Height = 0;
};

struct TTreeNode {
    std::string Text;
    int Data = 0; // the page number the node stands for
    int Level = 0;
};

class TForm;

// One control of a form: every property a host needs to draw it, and the handlers the form binds.
class TComponent {
public:
    TComponent(TForm& owner, TComponentKind kind, std::string name, std::string parent, TBounds bounds);

    TForm& Owner() const { return *FOwner; }
    const TComponentKind Kind;
    const std::string Name;
    std::string Parent; // the name of the component holding this one, "" for the form itself
    TBounds Bounds;
    std::string Caption;
    std::string Text;
    bool Enabled = true;
    bool Visible = true;
    std::vector<std::string> Items;
    int ItemIndex = -1;
    TComboBoxStyle Style = TComboBoxStyle::DropDownList;
    std::vector<TTreeNode> Nodes; // tree views; ItemIndex is the selected node
    bool Checked = false;
    char PasswordChar = 0;
    int TabOrder = -1;
    int Tag = 0;
    TFont Font;
    TColor Color = clDefault;
    TColor BarColor = clDefault; // progress bars: the bar and its background
    TColor BarBackColor = clDefault;
    std::string Cursor;                   // "" or "hand"
    int ModalResult = mrNone;             // buttons: the result they close the form with
    bool Default = false;                 // buttons: pressed by Enter
    bool Cancel = false;                  // buttons: pressed by Escape
    int Min = 0, Max = 100, Position = 0; // progress bars
    int Interval = 0;                     // timers, in ms; Enabled starts and stops them
    bool DoubleBuffered = false;

    std::function<void()> OnClick;  // buttons, labels, check boxes (after the check mark changed)
    std::function<void()> OnChange; // edits, combo boxes, tree selection
    std::function<void()> OnTimer;  // timers

private:
    TForm* FOwner;
    friend class TForm;
    uint64_t FTimerDue = 0;
};

class TFormHost;

// A dialog: a caption, a client area, components in creation order, the focused control and the modal
// result. Host actions (SetText, Click, ...) behave as a user's would: disabled or hidden controls ignore
// them and handlers run as the toolkit would run them.
class TForm {
public:
    TForm(std::string name, std::string caption, int clientWidth, int clientHeight);
    virtual ~TForm();
    TForm(const TForm&) = delete;
    TForm& operator=(const TForm&) = delete;

    std::string Name;
    std::string Caption;
    int ClientWidth, ClientHeight;
    int Left = 0, Top = 0;
    TFormPosition Position = TFormPosition::ScreenCenter;
    TFont Font;
    std::string ActiveControl; // the focused component's name
    int ModalResult = mrNone;

    TComponent& Add(TComponentKind kind, const std::string& name, const std::string& parent, TBounds bounds);
    TComponent* FindComponent(const std::string& name) const;
    TComponent& Component(const std::string& name) const; // raises when there is none
    const std::vector<std::unique_ptr<TComponent>>& Components() const { return FComponents; }
    // Whether the component and every component holding it are enabled (visible): what the user sees.
    bool EffectivelyEnabled(const TComponent& c) const;
    bool EffectivelyVisible(const TComponent& c) const;

    // Shows the form through the process's form host until its modal result is set; returns that result.
    int ShowModal();
    bool Showing() const { return FShowing; }
    // Closing the window counts as Cancel unless a result is already set.
    void Close();
    // Bumped on every change a host should redraw for.
    uint64_t Version() const { return FVersion; }
    void Changed() { ++FVersion; }

    // The user's actions; each returns false when the control ignored it (missing, disabled or hidden).
    bool SetText(const std::string& name, const std::string& text);
    bool SelectItem(const std::string& name, int index);
    bool Click(const std::string& name);
    bool Focus(const std::string& name);
    // Runs the handlers of the timers that are due; form hosts call it while the form is shown.
    void ProcessTimers();
    // Fires one timer at once (scripted hosts).
    bool TimerTick(const std::string& name);

private:
    bool Accepts(const TComponent* c) const;
    std::vector<std::unique_ptr<TComponent>> FComponents;
    bool FShowing = false;
    uint64_t FVersion = 0;
};

// Shows forms modally. The gadget host draws them in its page; tests script them.
class TFormHost {
public:
    virtual ~TFormHost() = default;
    // Returns when form.ModalResult is set (the host sets mrCancel when the user closes the window).
    virtual void ShowModal(TForm& form) = 0;
};

// The process's form host; without one installed, ShowModal closes every form with Cancel at once.
TFormHost& FormHost();
// Installs a host (not owned); nullptr restores the default. Returns the previous one.
TFormHost* SetFormHost(TFormHost* host);
