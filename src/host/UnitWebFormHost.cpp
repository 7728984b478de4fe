#include "host/UnitWebFormHost.h"

#include "platform/UnitPlatformMainThread.h"
#include "platform/UnitPlatformMessageBox.h"
#include "support/UnitLogging.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <mutex>

namespace {

const char* PositionName(TFormPosition position) {
    switch (position) {
    case TFormPosition::Designed:
        return "designed";
    case TFormPosition::ScreenCenter:
        return "screenCenter";
    case TFormPosition::DesktopCenter:
        return "desktopCenter";
    }
    return "designed";
}

nlohmann::json FontToJson(const TFont& font) {
    return {{"name", font.Name},
            {"size", font.Size},
            {"bold", font.Bold},
            {"underline", font.Underline},
            {"color", ColorToJson(font.Color)}};
}

nlohmann::json ComponentToJson(const TComponent& c, const TPageTexts& pageTexts) {
    nlohmann::json nodes = nlohmann::json::array();
    for (const TTreeNode& node : c.Nodes)
        nodes.push_back({{"text", node.Text}, {"data", node.Data}, {"level", node.Level}});
    nlohmann::json json = {{"kind", ComponentKindName(c.Kind)},
                           {"name", c.Name},
                           {"parent", c.Parent},
                           {"left", c.Bounds.Left},
                           {"top", c.Bounds.Top},
                           {"width", c.Bounds.Width},
                           {"height", c.Bounds.Height},
                           {"caption", c.Caption},
                           {"text", c.Text},
                           {"enabled", c.Enabled},
                           {"visible", c.Visible},
                           {"items", c.Items},
                           {"itemIndex", c.ItemIndex},
                           {"style", c.Style == TComboBoxStyle::DropDown ? "dropDown" : "dropDownList"},
                           {"nodes", std::move(nodes)},
                           {"checked", c.Checked},
                           {"passwordChar", c.PasswordChar ? std::string(1, c.PasswordChar) : std::string()},
                           {"tabOrder", c.TabOrder},
                           {"tag", c.Tag},
                           {"font", FontToJson(c.Font)},
                           {"color", ColorToJson(c.Color)},
                           {"barColor", ColorToJson(c.BarColor)},
                           {"barBackColor", ColorToJson(c.BarBackColor)},
                           {"cursor", c.Cursor},
                           {"modalResult", c.ModalResult},
                           {"default", c.Default},
                           {"cancel", c.Cancel},
                           {"min", c.Min},
                           {"max", c.Max},
                           {"position", c.Position}};
    if (c.PasswordChar) {
        // A password never travels to the page: the page keeps what the user typed and learns only how long
        // the text is, and whether it is still the one the page sent.
        json.erase("text");
        json["textLength"] = std::count_if(c.Text.begin(), c.Text.end(), [](char byte) {
            return (static_cast<unsigned char>(byte) & 0xC0) != 0x80;
        });
        const auto typed = pageTexts.find(c.Name);
        json["textFromPage"] = typed != pageTexts.end() && typed->second == c.Text;
    }
    return json;
}

// A control's name as the page sent it, fit for one line of the log.
std::string NameForLog(const std::string& name) {
    constexpr size_t Longest = 80;
    std::string shown = name.substr(0, Longest);
    for (char& c : shown)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    return name.size() > Longest ? shown + "..." : shown;
}

// Why the form ignored an action on the named control, for the log.
std::string RefusalReason(const TForm& form, bool topMost, const std::string& name) {
    if (!topMost) return "the form is not the top-most one";
    const TComponent* c = form.FindComponent(name);
    if (!c) return name.empty() ? "the form has no such button" : "the form has no such control";
    if (!form.EffectivelyVisible(*c)) return "the control is hidden";
    if (!form.EffectivelyEnabled(*c)) return "the control is disabled";
    return "the control does not take it";
}

// Presses the form's button marked by the flag, as the keyboard would.
// Several buttons may carry the mark where only one shows at a time (the wizard's steps): the first that the
// user could click is pressed.
bool PressMarkedButton(TForm& form, bool TComponent::*mark) {
    for (const auto& c : form.Components())
        if (c->Kind == TComponentKind::Button && (*c).*mark && form.Click(c->Name)) return true;
    return false;
}

struct TAnswer {
    const char* Name;
    const char* Caption;
    int Id;
};

std::vector<TAnswer> AnswersFor(unsigned flags) {
    switch (flags & 0xF) {
    case MB_OKCANCEL:
        return {{"btnOK", "OK", IDOK}, {"btnCancel", "Cancel", IDCANCEL}};
    case 0x3: // MB_YESNOCANCEL
        return {{"btnYes", "&Yes", IDYES}, {"btnNo", "&No", IDNO}, {"btnCancel", "Cancel", IDCANCEL}};
    case MB_YESNO:
        return {{"btnYes", "&Yes", IDYES}, {"btnNo", "&No", IDNO}};
    default:
        return {{"btnOK", "OK", IDOK}};
    }
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines(1);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        if (text[i] == '\n' || text[i] == '\r')
            lines.emplace_back();
        else
            lines.back() += text[i];
    }
    return lines;
}

} // namespace

nlohmann::json ColorToJson(TColor color) {
    if (color < 0) return nullptr;
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", color & 0xFF, (color >> 8) & 0xFF,
                  (color >> 16) & 0xFF);
    return text;
}

nlohmann::json FormToJson(const TForm& form, int id, const TPageTexts& pageTexts) {
    nlohmann::json components = nlohmann::json::array();
    for (const auto& c : form.Components())
        if (c->Kind != TComponentKind::Timer) components.push_back(ComponentToJson(*c, pageTexts));
    return {{"id", id},
            {"name", form.Name},
            {"caption", form.Caption},
            {"clientWidth", form.ClientWidth},
            {"clientHeight", form.ClientHeight},
            {"position", PositionName(form.Position)},
            {"left", form.Left},
            {"top", form.Top},
            {"font", FontToJson(form.Font)},
            {"activeControl", form.ActiveControl},
            {"version", form.Version()},
            {"components", std::move(components)}};
}

TWebFormHost::TWebFormHost(TPublisher publish) : FPublish(std::move(publish)) {
}

TWebFormHost::~TWebFormHost() = default;

nlohmann::json TWebFormHost::FormsJson() const {
    nlohmann::json forms = nlohmann::json::array();
    for (const TOpenForm& open : FStack)
        forms.push_back(FormToJson(*open.Form, open.Id, open.PageTexts));
    return {{"forms", std::move(forms)}};
}

bool TWebFormHost::ChangedSincePublished() const {
    return std::any_of(FStack.begin(), FStack.end(),
                       [](const TOpenForm& open) { return open.Form->Version() != open.PublishedVersion; });
}

void TWebFormHost::Publish() {
    for (TOpenForm& open : FStack)
        open.PublishedVersion = open.Form->Version();
    if (FPublish) FPublish(FormsJson());
}

void TWebFormHost::RunTimers() {
    // A timer's handler may close a form or show another: each form is looked up again before its turn.
    std::vector<int> ids;
    for (const TOpenForm& open : FStack)
        ids.push_back(open.Id);
    for (int id : ids) {
        auto found =
            std::find_if(FStack.begin(), FStack.end(), [id](const TOpenForm& o) { return o.Id == id; });
        if (found == FStack.end()) continue;
        try {
            found->Form->ProcessTimers();
        } catch (const std::exception& e) {
            LogException(e, "TWebFormHost.ShowModal");
        }
    }
}

void TWebFormHost::ShowModal(TForm& form) {
    if (FStopping) {
        form.Close();
        return;
    }
    if (!IsMainThread()) {
        // Forms, their handlers and the queue belong to the main thread: a form shown elsewhere waits there.
        OnMainThread([this, &form] { ShowModal(form); });
        return;
    }
    const int id = FNextId++;
    FStack.push_back({id, &form, form.Version(), {}});
    Publish();
    struct TPop {
        TWebFormHost& Host;
        int Id;
        ~TPop() {
            auto& stack = Host.FStack;
            stack.erase(
                std::remove_if(stack.begin(), stack.end(), [this](const TOpenForm& o) { return o.Id == Id; }),
                stack.end());
            try {
                Host.Publish();
            } catch (...) {
            }
        }
    } pop{*this, id};
    while (form.ModalResult == mrNone) {
        if (FStopping) {
            form.Close();
            break;
        }
        MainThreadQueue().RunUntil(
            [&] { return form.ModalResult != mrNone || FStopping || ChangedSincePublished(); }, TimerSliceMs);
        RunTimers();
        if (ChangedSincePublished()) Publish();
    }
}

std::optional<bool> TWebFormHost::Apply(int id, const std::string& action, const std::string& name,
                                        const nlohmann::json& value) {
    auto found = std::find_if(FStack.begin(), FStack.end(), [id](const TOpenForm& o) { return o.Id == id; });
    if (found == FStack.end()) return std::nullopt;
    TForm& form = *found->Form;
    // Only the top-most form takes input, as a modal window disables those below it.
    const bool topMost = found + 1 == FStack.end();
    bool result = false;
    if (action == "click") {
        result = topMost && form.Click(name);
    } else if (action == "text") {
        if (!value.is_string()) throw EFormActionError("\"text\" takes a string value");
        const std::string text = value.get<std::string>();
        // Every form echoes its texts to every page: no field takes more than a long address.
        const size_t chars = static_cast<size_t>(std::count_if(
            text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
        if (chars > MaxTextChars)
            throw EFormActionError("\"text\" takes at most " + std::to_string(MaxTextChars) + " characters");
        result = topMost && form.SetText(name, text);
        // A handler may have shown a form meanwhile, moving the stack: the open form is looked up again.
        const TComponent* edit = form.FindComponent(name);
        const auto open =
            std::find_if(FStack.begin(), FStack.end(), [id](const TOpenForm& o) { return o.Id == id; });
        if (result && edit && edit->PasswordChar && open != FStack.end()) {
            open->PageTexts[name] = text;
            // The page waits to see its text acknowledged before it believes the host's text again.
            form.Changed();
        }
    } else if (action == "select") {
        if (!value.is_number_integer()) throw EFormActionError("\"select\" takes an integer value");
        const auto index = value.get<int64_t>();
        result =
            topMost && index >= -1 && index <= INT32_MAX && form.SelectItem(name, static_cast<int>(index));
    } else if (action == "focus") {
        result = topMost && form.Focus(name);
    } else if (action == "key") {
        if (value != "Enter" && value != "Escape")
            throw EFormActionError("\"key\" takes \"Enter\" or \"Escape\"");
        result =
            topMost && PressMarkedButton(form, value == "Enter" ? &TComponent::Default : &TComponent::Cancel);
    } else if (action == "close") {
        if (topMost) {
            form.Close();
            result = true;
        }
    } else {
        throw EFormActionError("unknown form action \"" + action + "\"");
    }
    if (!result) {
        // The value stays out of the log: it may be a password.
        LogFmt("The form %s (%d) refused the page's action \"%s\" on \"%s\": %s",
               {form.Name, id, action, NameForLog(name), RefusalReason(form, topMost, name)}, lmkWarning);
    }
    if (ChangedSincePublished()) Publish();
    return result;
}

std::optional<uint64_t> TWebFormHost::Version(int id) const {
    const auto found =
        std::find_if(FStack.begin(), FStack.end(), [id](const TOpenForm& o) { return o.Id == id; });
    if (found == FStack.end()) return std::nullopt;
    return found->Form->Version();
}

bool TWebFormHost::OnMainThread(const std::function<void()>& work) {
    struct TState {
        std::mutex Lock;
        std::condition_variable Changed;
        bool Started = false, Finished = false, Abandoned = false;
        std::exception_ptr Error;
    };
    auto state = std::make_shared<TState>();
    MainThreadQueue().Post([state, work] {
        {
            std::lock_guard lock(state->Lock);
            if (state->Abandoned) return; // the caller and what work refers to may be gone
            state->Started = true;
        }
        try {
            work();
        } catch (...) {
            state->Error = std::current_exception();
        }
        {
            std::lock_guard lock(state->Lock);
            state->Finished = true;
        }
        state->Changed.notify_all();
    });
    std::unique_lock lock(state->Lock);
    while (!state->Finished) {
        if (!state->Started && FStopping) {
            state->Abandoned = true;
            return false;
        }
        state->Changed.wait_for(lock, std::chrono::milliseconds(100));
    }
    if (state->Error) std::rethrow_exception(state->Error);
    return true;
}

void TWebFormHost::Stop() {
    FStopping = true;
    for (TOpenForm& open : FStack)
        open.Form->Close();
    MainThreadQueue().Wake();
}

int TWebFormHost::ShowMessage(const std::string& text, const std::string& caption, unsigned flags) {
    if (!IsMainThread()) {
        // Forms live on the main thread: a worker's message waits there for its answer. A host that stops
        // before it came to the box gives the safe answer.
        int answer = (flags & 0xF) == MB_OK ? IDOK : (flags & 0xF) == MB_YESNO ? IDNO : IDCANCEL;
        OnMainThread([&] { answer = ShowMessage(text, caption, flags); });
        return answer;
    }
    const std::vector<std::string> lines = Lines(text);
    size_t widest = 0;
    for (const std::string& line : lines)
        widest = std::max(widest, line.size());
    const std::vector<TAnswer> answers = AnswersFor(flags);
    constexpr int ButtonWidth = 75, ButtonHeight = 25, Gap = 8, Margin = 16, LineHeight = 16;
    const int buttonsWidth = static_cast<int>(answers.size()) * (ButtonWidth + Gap) - Gap;
    const int width = std::clamp(static_cast<int>(widest) * 7 + 2 * Margin, buttonsWidth + 2 * Margin, 480);
    // A line wider than the box wraps (about 7 pixels a character): the buttons go below all of it.
    int rows = 0;
    for (const std::string& line : lines)
        rows +=
            std::max(1, (static_cast<int>(line.size()) * 7 + width - 2 * Margin - 1) / (width - 2 * Margin));
    const int textHeight = rows * LineHeight;
    const int height = Margin + textHeight + Margin + ButtonHeight + 12;

    const bool hasCancel =
        std::any_of(answers.begin(), answers.end(), [](const TAnswer& a) { return a.Id == IDCANCEL; });

    TForm form("MessageBox", caption, width, height);
    form.Position = TFormPosition::ScreenCenter;
    TComponent& label =
        form.Add(TComponentKind::Label, "lblText", "", {Margin, Margin, width - 2 * Margin, textHeight});
    label.Caption = text;
    int left = (width - buttonsWidth) / 2;
    for (size_t i = 0; i < answers.size(); ++i) {
        TComponent& button = form.Add(TComponentKind::Button, answers[i].Name, "",
                                      {left, Margin + textHeight + Margin, ButtonWidth, ButtonHeight});
        button.Caption = answers[i].Caption;
        button.ModalResult = answers[i].Id;
        button.TabOrder = static_cast<int>(i);
        button.Default = i == 0;
        // Escape answers Cancel where there is one, else the safe last answer ("No", or the only "OK").
        button.Cancel = hasCancel ? answers[i].Id == IDCANCEL : i + 1 == answers.size();
        left += ButtonWidth + Gap;
    }
    form.ActiveControl = answers.front().Name;
    const int result = form.ShowModal();
    // The close box of a box without Cancel gives its safe answer, as Escape does.
    if (result == mrCancel && !hasCancel) return answers.back().Id;
    return result;
}
