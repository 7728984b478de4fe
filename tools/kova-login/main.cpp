// kova-login: saves an eBay user's login data and token into a gadget directory through the settings' login
// data section, exactly as the gadget saves them when the user chooses to keep them. The demo and the
// browser tests use it to start with a signed-in user.

#include "platform/UnitPlatformFiles.h"
#include "storage/UnitKovaIniFile.h"
#include "storage/UnitOAuthTokens.h"
#include "support/UnitFileUtils.h"

#include <cstdio>
#include <exception>
#include <iostream>
#include <map>
#include <string>

namespace {

const char* const Usage =
    "Usage: kova-login --gadget-dir DIR --user NAME --password TEXT [--token TEXT] [--refresh-token TEXT]\n"
    "       kova-login --help\n"
    "\n"
    "Saves user name, password and token into the encrypted login data file of the gadget directory DIR\n"
    "(the file KovaGadget.ini names, \"ebtmp.dat\" by default), readable by its owner only, as the gadget\n"
    "does for a user who keeps login data. A value given as \"-\" is read as one line from standard input,\n"
    "so that it stays out of the process list; several are read in the order --password, --refresh-token,\n"
    "--token. Without --token the user has login data but no token and the gadget's first load runs the\n"
    "authorisation wizard. --refresh-token saves an OAuth refresh token for the user beside the login data\n"
    "(\"eboauth.dat\", owner-only), for application data that sign in with OAuth: the first load renews the\n"
    "access token with it.\n"
    "Exit status: 0 saved, 1 the save failed, 2 bad arguments.\n";

int BadArguments(const std::string& message) {
    std::fprintf(stderr, "kova-login: %s\n%s", message.c_str(), Usage);
    return 2;
}

bool ReadLine(std::string& value) {
    if (!std::getline(std::cin, value)) return false;
    if (!value.empty() && value.back() == '\r') value.pop_back();
    return true;
}

} // namespace

int main(int argc, char** argv) {
    std::map<std::string, std::string> values{{"--token", ""}, {"--refresh-token", ""}};
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            std::fputs(Usage, stdout);
            return 0;
        }
        if (option != "--gadget-dir" && option != "--user" && option != "--password" && option != "--token" &&
            option != "--refresh-token")
            return BadArguments("unknown option " + option);
        if (i + 1 >= argc) return BadArguments(option + " needs a value");
        values[option] = argv[++i];
    }
    for (const char* required : {"--gadget-dir", "--user", "--password"})
        if (!values.count(required)) return BadArguments(std::string(required) + " is missing");
    for (auto& [option, value] : values)
        if (value == "-" && !ReadLine(value)) return BadArguments(option + " -: standard input ended");

    try {
        const std::string& directory = values["--gadget-dir"];
        if (!DirectoryExists(directory)) throw std::runtime_error("no gadget directory " + directory);
        TIniFileManager settings("KovaGadget.ini", IncludeTrailingPathDelimiter(directory));
        settings.EbayLoginData().SaveLogInData(values["--user"], values["--password"], values["--token"]);
        TOAuthTokens tokens;
        tokens.RefreshToken = values["--refresh-token"];
        const std::string tokensPath = OAuthTokensPath(settings.EbayLoginData().LogInDataPath());
        if (!tokens.Empty()) SaveOAuthTokens(tokensPath, values["--user"], tokens);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kova-login: %s\n", e.what());
        return 1;
    }
    return 0;
}
