#include "host/KovaGadgetDemo.h"

#include "base/UnitUtils.h"
#include "dialogs/FormKovaGadgetAuthorize.h"
#include "ebayapi/UnitCurlSession.h"
#include "host/KovaGadgetHost.h"
#include "platform/UnitPlatformChildProgram.h"
#include "platform/UnitPlatformEnvironment.h"
#include "platform/UnitPlatformFiles.h"
#include "platform/UnitPlatformProcess.h"
#include "storage/UnitKovaDat.h"
#include "storage/UnitKovaDatFile.h"
#include "storage/UnitKovaIniFile.h"
#include "storage/UnitOAuthTokens.h"
#include "support/UnitFileUtils.h"

#include <csignal>
#include <filesystem>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <pthread.h>
#include <pugixml.hpp>
#include <regex>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr const char* DemoUser = "demo";
constexpr const char* DemoPassword = "demo-password";

// The demo's folder, removed with everything in it when the demo ends however it ends.
class TDemoFolder {
public:
    TDemoFolder() : FPath(CreateTemporaryFolder("kova-demo.")) {}
    ~TDemoFolder() {
        std::error_code ignored;
        fs::remove_all(FPath, ignored);
    }
    TDemoFolder(const TDemoFolder&) = delete;
    TDemoFolder& operator=(const TDemoFolder&) = delete;
    std::string File(const std::string& name) const { return FPath + "/" + name; }

private:
    std::string FPath;
};

void SetChildText(pugi::xml_node parent, const char* path, const std::string& value) {
    pugi::xml_node node = parent.first_element_by_path(path);
    if (!node) throw Exception(std::string("The application data have no ") + path);
    node.text().set(value.c_str());
}

// A fresh token for the demo user, from the sandbox's control endpoint.
std::string SandboxToken(const std::string& sandboxUrl) {
    TCurlClient client;
    client.ContentType = "application/json";
    std::string answer;
    client.Post(sandboxUrl + "/sandbox/token", nlohmann::json{{"username", DemoUser}}.dump(), answer);
    const auto reply = nlohmann::json::parse(answer, nullptr, false);
    if (!reply.is_object() || !reply.contains("token") || !reply["token"].is_string())
        throw Exception("The sandbox gave no token: " + answer);
    return reply["token"].get<std::string>();
}

// A refresh token of the demo user, as a finished OAuth sign-in leaves it.
std::string SandboxRefreshToken(const std::string& sandboxUrl) {
    TCurlClient client;
    client.ContentType = "application/json";
    std::string answer;
    client.Post(sandboxUrl + "/sandbox/oauth/tokens", nlohmann::json{{"username", DemoUser}}.dump(), answer);
    const auto reply = nlohmann::json::parse(answer, nullptr, false);
    if (!reply.is_object() || !reply.contains("refresh_token") || !reply["refresh_token"].is_string())
        throw Exception("The sandbox gave no OAuth tokens: " + answer);
    return reply["refresh_token"].get<std::string>();
}

sigset_t StopSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    return signals;
}

} // namespace

std::string KovaDatForSandbox(const std::string& shippedPayload, const std::string& sandboxUrl, bool oauth) {
    pugi::xml_document document;
    if (const auto parsed = document.load_buffer(shippedPayload.data(), shippedPayload.size(),
                                                 pugi::parse_default | pugi::parse_declaration);
        !parsed)
        throw Exception(std::string("The shipped application data are no XML: ") + parsed.description());
    pugi::xml_node root = document.child("KOVADAT");
    SetChildText(root, "COMMON/LINKFETCHTOKENSIGNIN", sandboxUrl + "/signin?runame=MYRUNAME&SessID=USERSID");
    SetChildText(root, "EBAYAPI/APIServerProduction", sandboxUrl + "/ws/api.dll");
    SetChildText(root, "EBAYAPI/APIDevID", "KovaSandboxDev");
    SetChildText(root, "EBAYAPI/APIAppID", "KovaSandboxApp");
    SetChildText(root, "EBAYAPI/APICertID", "KovaSandboxCert");
    // The demo signs in the design's way, whatever sign-in the shipped data name.
    root.remove_child("SIGNIN");
    if (oauth) {
        pugi::xml_node signIn = root.append_child("SIGNIN");
        signIn.append_child("SIGNINKIND").text().set(TDatSignIn::KindOAuth);
        signIn.append_child("OAUTHCONSENTURL").text().set((sandboxUrl + "/oauth2/authorize").c_str());
        signIn.append_child("OAUTHTOKENURL").text().set((sandboxUrl + "/identity/v1/oauth2/token").c_str());
        signIn.append_child("OAUTHIDENTITYURL")
            .text()
            .set((sandboxUrl + "/commerce/identity/v1/user/").c_str());
        signIn.append_child("RUNAME").text().set(KovaGadgetRuName);
    }
    std::ostringstream text;
    document.save(text, "  ", pugi::format_default, pugi::encoding_utf8);
    return text.str();
}

int RunKovaGadgetDemo(const TKovaGadgetHostOptions& options, const TKovaGadgetHostRunner& runHost,
                      std::ostream& report) {
    // A Ctrl-C while the demo sets up waits for the host, which then stops at once and leaves nothing behind.
    const sigset_t stopSignals = StopSignals();
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    const fs::path executable = ProcessExecutablePath();
    const std::string sandboxProgram = (executable.parent_path() / "kova-sandbox").string();
    const std::string shipped = ShippedGadgetDirectory(executable.string());
    std::optional<TDemoFolder> folder;
    std::optional<TChildProgram> sandbox;
    TKovaGadgetHostOptions hostOptions = options;
    try {
        if (::access(sandboxProgram.c_str(), X_OK) != 0)
            throw Exception("the demo needs kova-sandbox beside kova-gadget, and " + sandboxProgram +
                            " is not there");
        if (shipped.empty())
            throw Exception("the gadget's page is neither in ../gadget nor in ../share/kova-gadget beside " +
                            executable.string());
        folder.emplace();
        fs::create_directories(folder->File("sandbox"));
        std::vector<std::string> sandboxArgs{"--state-dir", folder->File("sandbox"),
                                             "--port",      "0",
                                             "--account",   "demo:" + std::to_string(options.DemoItems)};
        // The demo user leads the fourth auction; two minutes in, a rival outbids them, which the next
        // refresh tells.
        if (options.DemoItems > 3) sandboxArgs.insert(sandboxArgs.end(), {"--item-outbid", "demo:3:120"});
        sandbox.emplace(sandboxProgram, sandboxArgs, folder->File("sandbox.out"),
                        folder->File("sandbox.err"));
        const std::optional<std::string> sandboxUrl = sandbox->WaitForFirstLine(20000);
        if (!sandboxUrl || !std::regex_match(*sandboxUrl, std::regex(R"(https://127\.0\.0\.1:\d+)"))) {
            std::string errors;
            TryReadFileBytes(folder->File("sandbox.err"), errors);
            // Its first line says why; the usage after it says nothing to the demo's user.
            errors = errors.substr(0, errors.find('\n'));
            throw Exception("kova-sandbox did not start: " +
                            (errors.empty() ? sandboxUrl.value_or("") : errors));
        }
        // The control and the token request below trust the sandbox's own CA, and nothing less.
        SetEnvironmentVariable(KovaExtraCAFileVariable, folder->File("sandbox/ca.pem"));

        const std::string gadgetDir = folder->File("gadget");
        FillGadgetDirectory(gadgetDir, shipped);
        WriteFileAtomic(gadgetDir + "/KovaDat.dat",
                        PackKovaDat(KovaDatForSandbox(UnpackKovaDatFile(shipped + "/KovaDat.dat"),
                                                      *sandboxUrl, options.DemoOAuth)),
                        TFileAccess::OwnerOnly, TFileKeep::Durable);
        if (!options.DemoFirstRun) {
            TIniFileManager settings("KovaGadget.ini", IncludeTrailingPathDelimiter(gadgetDir));
            if (options.DemoOAuth) {
                // An OAuth user keeps a refresh token beside the login data; the first load renews from it.
                settings.EbayLoginData().SaveLogInData(DemoUser, DemoPassword, "");
                TOAuthTokens tokens;
                tokens.RefreshToken = SandboxRefreshToken(*sandboxUrl);
                SaveOAuthTokens(OAuthTokensPath(settings.EbayLoginData().LogInDataPath()), DemoUser, tokens);
            } else {
                settings.EbayLoginData().SaveLogInData(DemoUser, DemoPassword, SandboxToken(*sandboxUrl));
            }
        }

        // The demo's window is a browser of its own, in the demo's folder, that trusts the sandbox's server
        // key by its pin and nothing else that the user's browser does not: its pictures show at once.
        std::string pin;
        TryReadFileBytes(folder->File("sandbox/server-key-pin.txt"), pin);
        pin = Trim(pin);
        if (!pin.empty()) {
            hostOptions.AppWindowProfile = folder->File("browser");
            hostOptions.AppWindowArguments = {"--ignore-certificate-errors-spki-list=" + pin};
        }
        report << "demo: sandbox " << *sandboxUrl << " with the account \"demo\" (" << options.DemoItems
               << " watched items)\n"
               << "demo: the items' pictures come from the sandbox; in a browser tab (not the demo's window) "
                  "that "
                  "shows\n"
               << "      grey placeholders, open " << *sandboxUrl
               << "/ once, accept the sandbox's certificate there and refresh the list.\n";
        if (options.DemoFirstRun)
            report
                << "demo: first run: enter the user name \"demo\" and any password, then follow the wizard; "
                   "on the\n"
                << "      sandbox's sign-in page (its certificate is the sandbox's own: accept it) sign in "
                   "as \"demo\".\n";
        if (options.DemoFirstRun && options.DemoOAuth)
            report
                << "demo: OAuth: after you agreed, copy the address of the page the sandbox shows into the "
                   "wizard's field\n"
                << "      and click \"Verify Now\".\n";
        report << "demo: Ctrl-C stops the demo and removes everything it made." << std::endl;
        hostOptions.GadgetDir = gadgetDir;
        hostOptions.Demo = false;
    } catch (const std::exception& e) {
        report << "kova-gadget: " << e.what() << std::endl;
        return 1;
    }
    // The host first, so that its Terminate still finds the sandbox; then the sandbox and the folder.
    const int exitCode = runHost(hostOptions);
    sandbox.reset();
    folder.reset();
    report << "demo: stopped" << std::endl;
    return exitCode;
}

int RunKovaGadgetDemo(const TKovaGadgetHostOptions& options) {
    return RunKovaGadgetDemo(options, RunKovaGadgetHost, std::cerr);
}
