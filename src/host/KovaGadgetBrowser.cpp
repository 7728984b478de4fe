#include "host/KovaGadgetBrowser.h"

#include "platform/UnitPlatformIni.h"
#include "platform/UnitPlatformPlaces.h"
#include "platform/UnitPlatformSpawn.h"

#include <ostream>

const char* const KovaAppBrowsers[6] = {"chromium",       "chromium-browser",
                                        "google-chrome",  "google-chrome-stable",
                                        "microsoft-edge", "brave-browser"};

namespace {

constexpr const char* IniName = "KovaGadget.ini";
constexpr const char* IniSection = "Host";
constexpr const char* IniKey = "Browser";

bool ValidChoice(const std::string& choice) {
    return choice == "app" || choice == "tab" || choice == "none";
}

std::string AppBrowserOnPath() {
    for (const char* name : KovaAppBrowsers)
        if (std::string path = FindProgramOnPath(name); !path.empty()) return path;
    return "";
}

} // namespace

std::string KovaBrowserProfileFolder() {
    const std::string config = UserConfigFolder();
    return config.empty() ? "" : config + "/kova-gadget/browser";
}

TKovaBrowserLaunch KovaBrowserLaunch(const std::string& choice, const std::string& startPageUrl,
                                     const TKovaAppWindow& window) {
    TKovaBrowserLaunch launch;
    if (choice == "none") return launch;
    const std::string profile = window.Profile.empty() ? KovaBrowserProfileFolder() : window.Profile;
    if (choice == "app" && !profile.empty() && ForceFolder(profile)) launch.Program = AppBrowserOnPath();
    if (!launch.Program.empty()) {
        launch.AppWindow = true;
        launch.Arguments = {"--app=" + startPageUrl,
                            "--window-size=" + std::to_string(KovaAppWindowWidth) + "," +
                                std::to_string(KovaAppWindowHeight),
                            "--class=kova-gadget",
                            "--user-data-dir=" + profile,
                            "--no-first-run",
                            "--no-default-browser-check"};
        launch.Arguments.insert(launch.Arguments.end(), window.Arguments.begin(), window.Arguments.end());
        return launch;
    }
    launch.Program = FindProgramOnPath("xdg-open");
    if (launch.Program.empty()) launch.Program = "xdg-open";
    launch.Arguments = {startPageUrl};
    return launch;
}

std::string KeptKovaBrowserChoice(const std::string& gadgetDir) {
    try {
        const std::string kept = TIniFile(gadgetDir + "/" + IniName).ReadString(IniSection, IniKey, "");
        // A kept "none" would leave every later start, the menu's included, without a page to show.
        return ValidChoice(kept) && kept != "none" ? kept : "";
    } catch (const std::exception&) {
        return "";
    }
}

std::string KovaBrowserChoice(const std::string& gadgetDir, const std::string& asked, std::ostream& report) {
    if (asked.empty()) {
        const std::string kept = KeptKovaBrowserChoice(gadgetDir);
        return kept.empty() ? "app" : kept;
    }
    if (asked == "none") {
        report << "kova-gadget: --browser none holds for this run; later starts open the gadget again"
               << std::endl;
        return asked;
    }
    // A choice that cannot be kept still holds for this run.
    if (KeptKovaBrowserChoice(gadgetDir) != asked) try {
            TIniFile(gadgetDir + "/" + IniName).WriteString(IniSection, IniKey, asked);
        } catch (const std::exception& e) {
            report << "kova-gadget: the browser choice is not kept: " << e.what() << std::endl;
        }
    return asked;
}

TKovaGadgetBrowser::TKovaGadgetBrowser(std::string choice, std::string pageUrl, std::ostream& report,
                                       TKovaAppWindow window)
    : FChoice(std::move(choice)), FPageUrl(std::move(pageUrl)), FReport(report), FWindow(std::move(window)) {
}

void TKovaGadgetBrowser::Open(const std::string& choice) {
    const std::string& chosen = choice.empty() ? FChoice : choice;
    if (chosen == "none") return;
    std::lock_guard lock(FLock);
    std::unique_ptr<TKovaGadgetStartPage> page;
    try {
        page = std::make_unique<TKovaGadgetStartPage>(FPageUrl);
    } catch (const std::exception& e) {
        FReport << "kova-gadget: the start page for the browser cannot be written, open the address above: "
                << e.what() << std::endl;
        return;
    }
    if (!page->PassedOver().empty()) FReport << "kova-gadget: " << page->PassedOver() << std::endl;
    const TKovaBrowserLaunch launch = KovaBrowserLaunch(chosen, page->FileUrl(), FWindow);
    if (const std::string failed = StartDetachedProgram(launch.Program, launch.Arguments); !failed.empty())
        FReport << "kova-gadget: " << failed << "; open the address above" << std::endl;
    FStartPages.push_back(std::move(page));
}
