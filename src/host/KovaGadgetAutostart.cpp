#include "host/KovaGadgetAutostart.h"

#include "base/UnitExceptions.h"
#include "platform/UnitPlatformFileOps.h"
#include "platform/UnitPlatformFiles.h"
#include "platform/UnitPlatformPlaces.h"

std::string KovaAutostartPath() {
    const std::string config = UserConfigFolder();
    return config.empty() ? "" : config + "/autostart/kova-gadget.desktop";
}

std::string KovaDesktopExecArgument(const std::string& argument) {
    // Quoting first: inside quotes ", `, $ and \ take a backslash; then the key's value escapes every
    // backslash once more, and a literal % is written %%.
    bool quote = argument.empty();
    std::string quoted;
    for (const char c : argument) {
        if (std::string_view(" \t\n\"'\\><~|&;$*?#()`").find(c) != std::string_view::npos) quote = true;
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        quoted += c;
    }
    if (quote) quoted = "\"" + quoted + "\"";
    std::string value;
    for (const char c : quoted) {
        if (c == '\\')
            value += "\\\\";
        else if (c == '%')
            value += "%%";
        else
            value += c;
    }
    return value;
}

std::string KovaAutostartEntry(const std::string& program, const std::string& gadgetDir,
                               const std::string& browser) {
    std::string exec = KovaDesktopExecArgument(program);
    if (!gadgetDir.empty()) exec += " --gadget-dir " + KovaDesktopExecArgument(gadgetDir);
    if (!browser.empty()) exec += " --browser " + KovaDesktopExecArgument(browser);
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=KovaGadget\n"
           "Comment=The eBay watch list in a small window\n"
           "Exec=" +
           exec +
           "\n"
           "Icon=kova-gadget\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

void SetKovaAutostart(bool on, const std::string& entry) {
    const std::string path = KovaAutostartPath();
    if (path.empty())
        throw Exception("Neither XDG_CONFIG_HOME nor HOME is set: there is no autostart folder");
    if (!on) {
        if (FileExists(path) && !DeleteFile(path)) throw Exception("\"" + path + "\" cannot be removed");
        return;
    }
    const std::string folder = path.substr(0, path.rfind('/'));
    if (!ForceFolder(folder)) throw Exception("The folder \"" + folder + "\" cannot be made");
    WriteFileAtomic(path, entry, TFileAccess::Shared, TFileKeep::Durable);
}
