#include "host/KovaGadgetHostOptions.h"

#include "platform/UnitPlatformEnvironment.h"

#include <charconv>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

const char* const KovaGadgetUsage =
    "usage: kova-gadget [--port N] [--gadget-dir DIR] [--no-browser] [--runame NAME] [--help]\n"
    "\n"
    "Serves the KovaGadget page on 127.0.0.1 and prints its address, then runs until SIGINT or SIGTERM.\n"
    "\n"
    "  --port N          listen on port N (0, the default: any free port)\n"
    "  --gadget-dir DIR  the gadget directory (default: $XDG_DATA_HOME/kova-gadget, else\n"
    "                    ~/.local/share/kova-gadget); filled on first run, existing files are kept\n"
    "  --no-browser      do not open a browser; addresses the gadget opens go to the page\n"
    "  --runame NAME     the redirect name (RuName) that eBay issued with your own application keys\n"
    "  --help            show this text\n"
    "\n"
    "Exit status: 0 after a clean stop or --help, 1 when the server cannot start, 2 for a bad option.";

namespace {

int ParsePort(const std::string& text) {
    int value = -1;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || result.ec != std::errc() || result.ptr != text.data() + text.size() || value < 0 ||
        value > 65535)
        throw EKovaOptionsError("--port expects a number from 0 to 65535, not \"" + text + "\"");
    return value;
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
        const bool takesValue = option == "--port" || option == "--gadget-dir" || option == "--runame";
        if (takesValue && !inlineValue) {
            if (i + 1 >= args.size()) throw EKovaOptionsError(option + " needs a value");
            value = args[++i];
        } else if (!takesValue && inlineValue) {
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
        } else if (option == "--no-browser")
            options.NoBrowser = true;
        else if (option == "--help" || option == "-h")
            options.Help = true;
        else
            throw EKovaOptionsError("unknown option " + option);
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
    fs::create_directories(folder, error);
    if (!fs::is_directory(folder))
        throw EInOutError("The gadget directory \"" + folder + "\" cannot be created: " + error.message());
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
