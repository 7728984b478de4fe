#include "dialogs/UnitFormModel.h"

#include "base/UnitExceptions.h"
#include "platform/UnitPlatformClock.h"

#include <atomic>

namespace {

class TNoFormHost : public TFormHost {
public:
    void ShowModal(TForm& form) override { form.Close(); }
};

TNoFormHost GNoFormHost;
std::atomic<TFormHost*> GFormHost{&GNoFormHost};

} // namespace

const char* ComponentKindName(TComponentKind kind) {
    switch (kind) {
    case TComponentKind::Label:
        return "label";
    case TComponentKind::Edit:
        return "edit";
    case TComponentKind::Button:
        return "button";
    case TComponentKind::CheckBox:
        return "checkbox";
    case TComponentKind::ComboBox:
        return "combobox";
    case TComponentKind::GroupBox:
        return "groupbox";
    case TComponentKind::Panel:
        return "panel";
    case TComponentKind::TreeView:
        return "treeview";
    case TComponentKind::ProgressBar:
        return "progressbar";
    case TComponentKind::Timer:
        return "timer";
    }
    return "unknown";
}

TComponent::TComponent(TForm& owner, TComponentKind kind, std::string name, std::string parent,
                       TBounds bounds)
    : Kind(kind), Name(std::move(name)), Parent(std::move(parent)), Bounds(bounds), FOwner(&owner) {
    if (kind == TComponentKind::Timer) Enabled = false;
}

TForm::TForm(std::string name, std::string caption, int clientWidth, int clientHeight)
    : Name(std::move(name)), Caption(std::move(caption)), ClientWidth(clientWidth),
      ClientHeight(clientHeight) {
}

TForm::~TForm() = default;

TComponent& TForm::Add(TComponentKind kind, const std::string& name, const std::string& parent,
                       TBounds bounds) {
    if (FindComponent(name)) throw EListError("A component named " + name + " already exists");
    FComponents.push_back(std::make_unique<TComponent>(*this, kind, name, parent, bounds));
    return *FComponents.back();
}

TComponent* TForm::FindComponent(const std::string& name) const {
    for (const auto& c : FComponents)
        if (c->Name == name) return c.get();
    return nullptr;
}

TComponent& TForm::Component(const std::string& name) const {
    if (TComponent* c = FindComponent(name)) return *c;
    throw EListError("Component " + name + " not found on " + Name);
}

bool TForm::EffectivelyEnabled(const TComponent& c) const {
    for (const TComponent* p = &c; p; p = p->Parent.empty() ? nullptr : FindComponent(p->Parent))
        if (!p->Enabled) return false;
    return true;
}

bool TForm::EffectivelyVisible(const TComponent& c) const {
    for (const TComponent* p = &c; p; p = p->Parent.empty() ? nullptr : FindComponent(p->Parent))
        if (!p->Visible) return false;
    return true;
}

bool TForm::Accepts(const TComponent* c) const {
    return c && EffectivelyEnabled(*c) && EffectivelyVisible(*c);
}

int TForm::ShowModal() {
    ModalResult = mrNone;
    FShowing = true;
    try {
        FormHost().ShowModal(*this);
    } catch (...) {
        FShowing = false;
        throw;
    }
    FShowing = false;
    if (ModalResult == mrNone) ModalResult = mrCancel;
    return ModalResult;
}

void TForm::Close() {
    if (ModalResult == mrNone) ModalResult = mrCancel;
    Changed();
}

bool TForm::SetText(const std::string& name, const std::string& text) {
    TComponent* c = FindComponent(name);
    if (!Accepts(c) || (c->Kind != TComponentKind::Edit && c->Kind != TComponentKind::ComboBox)) return false;
    if (c->Kind == TComponentKind::ComboBox && c->Style == TComboBoxStyle::DropDownList) return false;
    c->Text = text;
    if (c->Kind == TComponentKind::ComboBox) {
        c->ItemIndex = -1;
        for (size_t i = 0; i < c->Items.size(); ++i)
            if (c->Items[i] == text) c->ItemIndex = static_cast<int>(i);
    }
    Changed();
    if (c->OnChange) c->OnChange();
    return true;
}

bool TForm::SelectItem(const std::string& name, int index) {
    TComponent* c = FindComponent(name);
    if (!Accepts(c) || (c->Kind != TComponentKind::ComboBox && c->Kind != TComponentKind::TreeView))
        return false;
    const size_t count = c->Kind == TComponentKind::TreeView ? c->Nodes.size() : c->Items.size();
    if (index < -1 || index >= static_cast<int>(count)) return false;
    c->ItemIndex = index;
    if (c->Kind == TComponentKind::ComboBox) c->Text = index >= 0 ? c->Items[static_cast<size_t>(index)] : "";
    Changed();
    if (c->OnChange) c->OnChange();
    return true;
}

bool TForm::Click(const std::string& name) {
    TComponent* c = FindComponent(name);
    if (!Accepts(c)) return false;
    if (c->Kind == TComponentKind::CheckBox) c->Checked = !c->Checked;
    if (c->Kind == TComponentKind::Button || c->Kind == TComponentKind::CheckBox) ActiveControl = c->Name;
    Changed();
    if (c->OnClick) c->OnClick();
    if (c->Kind == TComponentKind::Button && c->ModalResult != mrNone) ModalResult = c->ModalResult;
    return true;
}

bool TForm::Focus(const std::string& name) {
    TComponent* c = FindComponent(name);
    if (!Accepts(c)) return false;
    ActiveControl = name;
    Changed();
    return true;
}

void TForm::ProcessTimers() {
    const uint64_t now = GetTickCount64();
    for (size_t i = 0; i < FComponents.size(); ++i) {
        TComponent& c = *FComponents[i];
        if (c.Kind != TComponentKind::Timer || !c.Enabled || c.Interval <= 0) {
            c.FTimerDue = 0;
            continue;
        }
        if (c.FTimerDue == 0) c.FTimerDue = now + static_cast<uint64_t>(c.Interval);
        if (now < c.FTimerDue) continue;
        c.FTimerDue = now + static_cast<uint64_t>(c.Interval);
        Changed();
        if (c.OnTimer) c.OnTimer();
    }
}

bool TForm::TimerTick(const std::string& name) {
    TComponent* c = FindComponent(name);
    if (!c || c->Kind != TComponentKind::Timer || !c->Enabled) return false;
    Changed();
    if (c->OnTimer) c->OnTimer();
    return true;
}

TFormHost& FormHost() {
    return *GFormHost.load();
}

TFormHost* SetFormHost(TFormHost* host) {
    return GFormHost.exchange(host ? host : &GNoFormHost);
}
