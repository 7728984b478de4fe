#pragma once
// The command line of kova-gadget and the gadget directory it serves: where it lies and how a first run
// fills it from the copy the program ships with.

#include "base/UnitExceptions.h"

#include <iosfwd>
#include <string>
#include <vector>

KOVA_DECLARE_EXCEPTION(EKovaOptionsError, Exception);

struct TKovaGadgetHostOptions {
    int Port = 0;           // 0: any free port
    std::string GadgetDir;  // empty: DefaultGadgetDirectory()
    bool NoBrowser = false; // --no-browser, the same as --browser none
    std::string Browser;    // "app", "tab" or "none"; empty: the choice kept in the ini, else "app"
    std::string RuName;     // empty: the redirect name of the gadget's own application keys
    std::string Autostart;  // "on", "off", "show" (--autostart alone); empty: run the host
    bool Demo = false;
    int DemoItems = 40;
    bool DemoFirstRun = false;
    bool DemoOAuth = false; // --oauth: the demo signs in with OAuth
    bool Help = false;
    // Set by the demo, not on the command line: the app window's browser profile (empty: the user's
    // KovaBrowserProfileFolder()) and arguments it adds to the app browser's.
    std::string AppWindowProfile;
    std::vector<std::string> AppWindowArguments;
};

extern const char* const KovaGadgetUsage;

// Parses the arguments after the program name; raises EKovaOptionsError with the reason.
TKovaGadgetHostOptions ParseKovaGadgetHostOptions(const std::vector<std::string>& args);

// $XDG_DATA_HOME/kova-gadget, else ~/.local/share/kova-gadget; raises when neither variable is set.
std::string DefaultGadgetDirectory();

// The copy of the gadget beside the executable: the build's "../gadget", else the installed
// "../share/kova-gadget"; empty when neither is a folder.
std::string ShippedGadgetDirectory(const std::string& executablePath);

// Creates the folder and copies into it every file and folder of source that it lacks; files that exist are
// never overwritten. Returns how many files were copied; raises EInOutError when the folder cannot be made.
int FillGadgetDirectory(const std::string& folder, const std::string& source);

// The gadget folder is the user's alone. The default folder (isDefault) is narrowed to 0700 when others may
// enter it, once: the ini keeps that it was ([Host] FolderNarrowed=1), and a mode the user gives it
// afterwards stays. A folder named on the command line keeps its mode. Either kind that others may still
// enter is warned of. What was done goes to report, one line each.
void KeepKovaGadgetFolderPrivate(const std::string& folder, bool isDefault, std::ostream& report);
