#pragma once
// How the host shows its page: a small app window of a Chromium-family browser, a tab through xdg-open, or
// nothing. The browser is always given a start page, never the address with the secret.

#include "host/KovaGadgetStartPage.h"

#include <iosfwd>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// The browsers that open an app window, in the order they are looked for on PATH.
extern const char* const KovaAppBrowsers[6];
// The app window's size: its page (about 56 pixels less high under the window's title bar) holds the largest
// dialog, the options (494 x 363 with its title), whole.
constexpr int KovaAppWindowWidth = 520;
constexpr int KovaAppWindowHeight = 450;

// A program and its arguments that open a start page.
struct TKovaBrowserLaunch {
    std::string Program; // empty: nothing is opened
    std::vector<std::string> Arguments;
    bool AppWindow = false;
};

// An app window other than the user's own: the demo's, with a profile of its own that trusts its sandbox.
struct TKovaAppWindow {
    std::string Profile; // empty: KovaBrowserProfileFolder()
    std::vector<std::string> Arguments;
};

// What the choice ("app", "tab" or "none") starts for the start page's file:// address: the first app
// browser on PATH with its own profile folder, else xdg-open.
TKovaBrowserLaunch KovaBrowserLaunch(const std::string& choice, const std::string& startPageUrl,
                                     const TKovaAppWindow& window = {});

// $XDG_CONFIG_HOME/kova-gadget/browser (else ~/.config/...): the app window's own profile, so that the
// window is a browser process of its own and not a tab of the user's browser session.
std::string KovaBrowserProfileFolder();

// The browser choice for the gadget directory: the asked one, else the kept one, else "app". An asked "app"
// or "tab" is kept in its "KovaGadget.ini" (section "Host", key "Browser"; says on report when it cannot be
// kept); "none" holds for that run only, so that the menu entry and later starts always show the gadget.
std::string KovaBrowserChoice(const std::string& gadgetDir, const std::string& asked, std::ostream& report);
// The kept choice without changing it: "app", "tab" or "" (none kept; a "none" an older version kept reads
// as none kept).
std::string KeptKovaBrowserChoice(const std::string& gadgetDir);

// Opens start pages for one page address with one choice, and keeps them until it goes.
class TKovaGadgetBrowser {
public:
    TKovaGadgetBrowser(std::string choice, std::string pageUrl, std::ostream& report,
                       TKovaAppWindow window = {});
    // Any thread: writes a fresh start page and opens it with the host's choice, or with choice when one is
    // given (a later start's); does nothing for "none".
    void Open(const std::string& choice = "");

private:
    const std::string FChoice;
    const std::string FPageUrl;
    std::ostream& FReport;
    const TKovaAppWindow FWindow;
    std::mutex FLock;
    std::vector<std::unique_ptr<TKovaGadgetStartPage>> FStartPages;
};
