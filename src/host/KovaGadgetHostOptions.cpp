#include "host/KovaGadgetHostOptions.h"

#include "platform/UnitPlatformEnvironment.h"
#include "platform/UnitPlatformIni.h"
#include "platform/UnitPlatformPlaces.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <ostream>
#include <system_error>

namespace fs = std::filesystem;

const char* const KovaGadgetUsage =
    "usage: kova-gadget [--port N] [--gadget-dir DIR] [--browser app|tab|none] [--no-browser]\n"
    "                   [--runame NAME] [--autostart [on|off]] [--demo [--items N] [--first-run] [--oauth]] "
    "[--help]\n"
    "\n"
    "Serves the KovaGadget page on 127.0.0.1 and prints its address, then runs until SIGINT or SIGTERM.\n"
    "\n"
    "  --port N          listen on port N (0, the default: any free port)\n"
    "  --gadget-dir DIR  the gadget directory (default: $XDG_DATA_HOME/kova-gadget, else\n"
    "                    ~/.local/share/kova-gadget); filled on first run, existing files are kept\n"
    "  --browser app     open the page in a small window of its own (a Chromium-family browser's app\n"
    "                    window, else as --browser tab); the host ends 30 s after its last page has gone\n"
    "  --browser tab     open the page through xdg-open; the host runs until signalled\n"
    "  --browser none    open nothing; addresses the gadget opens go to the page\n"
    "                    (app and tab are kept in the gadget's ini, none holds for its run only; the\n"
    "                    first default is app)\n"
    "  --no-browser      the same as --browser none\n"
    "  --runame NAME     the redirect name (RuName) that eBay issued with your own application keys\n"
    "  --autostart on    start the host with the desktop session, with this folder and browser choice\n"
    "  --autostart off   no longer start it with the session; --autostart alone tells whether it does\n"
    "  --demo            run the gadget on a private sandbox with a demo account, all removed at exit\n"
    "  --items N         the demo account's number of watched items (0 to 400, default 40)\n"
    "  --first-run       the demo starts as a first run, with the sign-in wizard\n"
    "  --oauth           the demo signs in with OAuth: eBay's consent page, then the pasted address\n"
    "  --help            show this text\n"
    "\n"
    "One host runs per gadget directory: started again on the same folder, kova-gadget asks the running\n"
    "host to open its page, prints its address and exits.\n"
    "\n"
    "Places:\n"
    "  gadget directory  $XDG_DATA_HOME/kova-gadget, else ~/.local/share/kova-gadget; its KovaGadget.ini\n"
    "                    keeps the browser choice (section Host, key Browser)\n"
    "  log               kova-gadget.log beside the executable when that folder is writable, else in\n"
    "                    $XDG_STATE_HOME/kova-gadget/, else ~/.local/state/kova-gadget/\n"
    "  start pages and   $XDG_RUNTIME_DIR/kova-gadget/ (start-*.html, host-*.sock), else a private\n"
    "  the host's socket folder in $TMPDIR (else /tmp): kova-gadget-XXXXXX for start pages,\n"
    "                    kova-gadget-UID for the socket\n"
    "  app window        its own browser profile in $XDG_CONFIG_HOME/kova-gadget/browser, else\n"
    "                    ~/.config/kova-gadget/browser\n"
    "  autostart entry   $XDG_CONFIG_HOME/autostart/kova-gadget.desktop, else\n"
    "                    ~/.config/autostart/kova-gadget.desktop\n"
    "\n"
    "Environment: KOVA_GADGET_WINDOW_GRACE_MS shortens the app window host's 30 s after its last page\n"
    "(milliseconds); KOVA_GADGET_CLOCK_ERROR_MS, for tests, sets the exact time that many milliseconds\n"
    "behind the computer's clock.\n"
    "\n"
    "Exit status: 0 after a clean stop, a hand-over to the running host or --help, 1 when the server cannot\n"
    "start, 2 for a bad option.";

namespace {

int ParseNumber(const std::string& option, const std::string& text, int low, int high) {
    int value = -1;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || result.ec != std::errc() || result.ptr != text.data() + text.size() || value < low ||
        value > high)
        throw EKovaOptionsError(option + " expects a number from " + std::to_string(low) + " to " +
                                std::to_string(high) + ", not \"" + text + "\"");
    return value;
}

int ParsePort(const std::string& text) {
    return ParseNumber("--port", text, 0, 65535);
}

} // namespace

TKovaGadgetHostOptions ParseKovaGadgetHostOptions(const std::vector<std::string>& args) {
    TKovaGadgetHostOptions options;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string option = args[i];
        std::string value;
        bool inlineValue = false;
        if (const size_t equals = option.find('=');
            option.rfind("--", 0) == 0 && equals != std::string::npos) {
            value = option.substr(equals + 1);
            option.resize(equals);
            inlineValue = true;
        }
        // --autostart takes on or off when one follows; alone it asks.
        if (option == "--autostart" && !inlineValue && i + 1 < args.size() &&
            (args[i + 1] == "on" || args[i + 1] == "off")) {
            value = args[++i];
            inlineValue = true;
        }
        const bool takesValue = option == "--port" || option == "--gadget-dir" || option == "--runame" ||
                                option == "--browser" || option == "--items";
        const bool mayTakeValue = option == "--autostart";
        if (takesValue && !inlineValue) {
            if (i + 1 >= args.size()) throw EKovaOptionsError(option + " needs a value");
            value = args[++i];
        } else if (!takesValue && !mayTakeValue && inlineValue) {
            throw EKovaOptionsError(option + " takes no value");
        }
        if (option == "--port")
            options.Port = ParsePort(value);
        else if (option == "--gadget-dir") {
            if (value.empty()) throw EKovaOptionsError("--gadget-dir needs a folder");
            options.GadgetDir = value;
        } else if (option == "--runame") {
            if (value.empty()) throw EKovaOptionsError("--runame needs a name");
            options.RuName = value;
        } else if (option == "--browser") {
            if (value != "app" && value != "tab" && value != "none")
                throw EKovaOptionsError("--browser expects app, tab or none, not \"" + value + "\"");
            options.Browser = value;
        } else if (option == "--autostart") {
            if (inlineValue && value != "on" && value != "off")
                throw EKovaOptionsError("--autostart expects on or off, not \"" + value + "\"");
            options.Autostart = inlineValue ? value : "show";
        } else if (option == "--no-browser")
            options.NoBrowser = true;
        else if (option == "--demo")
            options.Demo = true;
        else if (option == "--items")
            // The sandbox keeps at most 400 watched items: the limit is told here, before anything starts.
            options.DemoItems = ParseNumber("--items", value, 0, 400);
        else if (option == "--first-run")
            options.DemoFirstRun = true;
        else if (option == "--oauth")
            options.DemoOAuth = true;
        else if (option == "--help" || option == "-h")
            options.Help = true;
        else
            throw EKovaOptionsError("unknown option " + option);
    }
    if (options.NoBrowser) {
        if (!options.Browser.empty() && options.Browser != "none")
            throw EKovaOptionsError("--no-browser contradicts --browser " + options.Browser);
        options.Browser = "none";
    }
    return options;
}

std::string DefaultGadgetDirectory() {
    if (auto data = GetEnvironmentVariable("XDG_DATA_HOME"); data && !data->empty())
        return *data + "/kova-gadget";
    if (auto home = GetEnvironmentVariable("HOME"); home && !home->empty())
        return *home + "/.local/share/kova-gadget";
    throw EKovaOptionsError("neither XDG_DATA_HOME nor HOME is set: name the folder with --gadget-dir");
}

std::string ShippedGadgetDirectory(const std::string& executablePath) {
    const fs::path bin = fs::path(executablePath).parent_path();
    for (const fs::path& candidate : {bin / ".." / "gadget", bin / ".." / "share" / "kova-gadget"}) {
        std::error_code error;
        if (fs::is_directory(candidate, error)) return fs::weakly_canonical(candidate, error).string();
    }
    return "";
}

int FillGadgetDirectory(const std::string& folder, const std::string& source) {
    std::error_code error;
    // New folders are the user's alone: the gadget folder holds the watch list and the login data.
    if (!ForceFolder(folder) || !fs::is_directory(folder, error))
        throw EInOutError("The gadget directory \"" + folder +
                          "\" cannot be created: " + std::strerror(errno));
    if (source.empty() || !fs::is_directory(source)) return 0;
    int copied = 0;
    for (auto entry = fs::recursive_directory_iterator(source, error);
         !error && entry != fs::recursive_directory_iterator(); entry.increment(error)) {
        const fs::path target = fs::path(folder) / fs::relative(entry->path(), source);
        std::error_code step;
        if (entry->is_directory(step)) {
            fs::create_directories(target, step);
        } else if (entry->is_regular_file(step) && !fs::exists(fs::symlink_status(target, step))) {
            if (fs::copy_file(entry->path(), target, fs::copy_options::skip_existing, step)) ++copied;
        }
    }
    return copied;
}

void KeepKovaGadgetFolderPrivate(const std::string& folder, bool isDefault, std::ostream& report) {
    const int mode = FolderMode(folder);
    if (mode < 0 || (mode & 077) == 0) return;
    char octal[16];
    std::snprintf(octal, sizeof octal, "%04o", static_cast<unsigned>(mode) & 07777u);
    const std::string ini = folder + "/KovaGadget.ini";
    bool narrowedBefore = false;
    try {
        narrowedBefore = TIniFile(ini).ReadString("Host", "FolderNarrowed", "") == "1";
    } catch (const std::exception&) {
    }
    if (isDefault && !narrowedBefore) {
        const std::string refused = RestrictFolderToOwner(folder);
        if (refused.empty()) {
            report << "kova-gadget: the gadget folder \"" << folder << "\" was open to others (mode " << octal
                   << "); it is now yours alone (0700)" << std::endl;
            try {
                TIniFile(ini).WriteString("Host", "FolderNarrowed", "1");
            } catch (const std::exception& e) {
                report << "kova-gadget: that it was narrowed is not kept: " << e.what() << std::endl;
            }
            return;
        }
        report << "kova-gadget: the gadget folder \"" << folder
               << "\" cannot be closed to others: " << refused << std::endl;
    }
    report << "kova-gadget: warning: others may enter the gadget folder \"" << folder << "\" (mode " << octal
           << "); the files the gadget writes there are yours alone, but chmod 700 keeps even their names to "
              "you"
           << std::endl;
}
