#include "host/KovaGadgetAutostart.h"

#include "base/UnitExceptions.h"
#include "base/UnitUtils.h"
#include "platform/UnitPlatformFileOps.h"
#include "platform/UnitPlatformFiles.h"
#include "platform/UnitPlatformPlaces.h"

#include <cstdio>
#include <utility>

namespace {

// A name as a message can show it: control characters and bytes that are not UTF-8 as \xNN.
std::string EscapeControls(const std::string& name) {
    std::string shown;
    for (size_t i = 0; i < name.size();) {
        const size_t len = Utf8SequenceLength(name, i);
        const auto c = static_cast<unsigned char>(name[i]);
        if (len == 0 || c < 0x20 || c == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            shown += hex;
            ++i;
        } else {
            shown.append(name, i, len);
            i += len;
        }
    }
    return shown;
}

} // namespace

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
    // An entry is lines of UTF-8 text: a line end in a name would start a key of its own (a second Exec=, or
    // Hidden=true), so a name that is not one line of text is refused rather than written.
    for (const auto& [what, name] :
         {std::pair<const char*, const std::string&>{"the program's path", program},
          {"the gadget folder", gadgetDir},
          {"the browser choice", browser}})
        if (const std::string fault = TextValueFault(name); !fault.empty())
            throw Exception(std::string("The autostart entry cannot name ") + what + " \"" +
                            CutText(EscapeControls(name), 200) + "\": " + fault + "; rename it first");
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
