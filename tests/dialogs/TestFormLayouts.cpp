// ctest-labels: threaded
#include "dialogs/FormKovaEbayLogInData.h"
#include "dialogs/FormKovaGadgetAuthorize.h"
#include "dialogs/FormKovaGadgetOptions.h"
#include "platform/UnitPlatformMainThread.h"
#include "storage/UnitKovaDat.h"
#include "watchlist/UnitKovaThreads.h"

#include <gtest/gtest.h>

namespace {

struct TRect {
    int Left, Top, Right, Bottom;
};

// Where the page draws a component: its bounds moved by every component holding it. A label without a
// width grows with its caption, as the page's does: about half the font's pixel size a character (more in
// bold).
TRect Placed(const TForm& form, const TComponent& c) {
    const double px = c.Font.Size * 96.0 / 72.0;
    int width = c.Bounds.Width, height = c.Bounds.Height;
    if (c.Kind == TComponentKind::Label && width == 0)
        width = static_cast<int>(c.Caption.size() * px * (c.Font.Bold ? 0.62 : 0.52));
    if (c.Kind == TComponentKind::Label && height == 0) height = static_cast<int>(px * 1.15);
    TRect r{c.Bounds.Left, c.Bounds.Top, c.Bounds.Left + width, c.Bounds.Top + height};
    for (const TComponent* p = form.FindComponent(c.Parent); p; p = form.FindComponent(p->Parent)) {
        r.Left += p->Bounds.Left, r.Right += p->Bounds.Left;
        r.Top += p->Bounds.Top, r.Bottom += p->Bounds.Top;
    }
    return r;
}

bool Holds(const TForm& form, const TComponent& outer, const TComponent& inner) {
    for (const TComponent* p = form.FindComponent(inner.Parent); p; p = form.FindComponent(p->Parent))
        if (p == &outer) return true;
    return false;
}

// Every pair of visible components that overlap, apart from a component and those it holds.
std::vector<std::string> Overlaps(const TForm& form) {
    std::vector<const TComponent*> shown;
    for (const auto& c : form.Components())
        if (c->Kind != TComponentKind::Timer && form.EffectivelyVisible(*c)) shown.push_back(c.get());
    std::vector<std::string> found;
    for (size_t i = 0; i < shown.size(); ++i)
        for (size_t j = i + 1; j < shown.size(); ++j) {
            const TComponent &a = *shown[i], &b = *shown[j];
            if (Holds(form, a, b) || Holds(form, b, a)) continue;
            const TRect ra = Placed(form, a), rb = Placed(form, b);
            if (ra.Left < rb.Right && rb.Left < ra.Right && ra.Top < rb.Bottom && rb.Top < ra.Bottom)
                found.push_back(a.Name + " and " + b.Name);
        }
    return found;
}

void RunUntil(const std::function<bool()>& done) {
    ASSERT_TRUE(MainThreadQueue().RunUntil(done, 30000));
}

// Each state a user can see, reached through the forms' own handlers.
TEST(FormLayouts, NoVisibleControlOverlapsAnotherInAnyStateOfAnyForm) {
    SetMainThread();
    FreeGadgetDat(); // the wizard's calls then fail at once, each with its cause
    std::vector<std::pair<std::string, std::vector<std::string>>> states;
    const auto look = [&](const std::string& state, const TForm& form) {
        states.emplace_back(state, Overlaps(form));
    };

    TfrmEbayLogInData login;
    look("login data", login);

    TfrmKovaGadgetOptions options;
    options.FUpdatesAvailable = true;
    options.lblDownloadLink.Visible = true;
    for (const int page : {TfrmKovaGadgetOptions::WatchlistPage, TfrmKovaGadgetOptions::UpdatePage,
                           TfrmKovaGadgetOptions::ProxyPage}) {
        options.SelectPage(page);
        look("options page " + std::to_string(page), options);
    }

    TfrmKovaGadgetAuthorize wizard;
    look("wizard: first step", wizard);
    ASSERT_TRUE(wizard.Click("btnAuthorize"));
    ASSERT_TRUE(wizard.FProgressBar->Visible && wizard.btnAuthorize.Visible);
    look("wizard: asking for a session", wizard);
    RunUntil([&] { return wizard.pnlSecondStep.Visible; });
    ASSERT_TRUE(wizard.lblSessionCause.Visible);
    look("wizard: second step after a refused session", wizard);
    ASSERT_TRUE(wizard.Click("btnVerify"));
    look("wizard: fetching the token", wizard);
    RunUntil([&] { return wizard.pnlFinished.Visible && !wizard.FProgressBar->Visible; });
    ASSERT_TRUE(wizard.lblFailureCause.Visible);
    look("wizard: failed", wizard);
    ASSERT_TRUE(wizard.Click("btnRetry"));
    look("wizard: fetching again", wizard);
    RunUntil([&] { return !wizard.FProgressBar->Visible; });
    wizard.ShowPanelFinished(true);
    look("wizard: succeeded", wizard);

    for (const auto& [state, overlaps] : states)
        EXPECT_TRUE(overlaps.empty()) << state << ": " << ::testing::PrintToString(overlaps);
    EXPECT_TRUE(MainThreadQueue().RunUntil([] { return TThreadBase::LiveCount() == 0; }, 30000));
}

} // namespace
