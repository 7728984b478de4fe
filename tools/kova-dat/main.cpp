// kova-dat: packs an XML file into the application data file "KovaDat.dat", unpacks one for inspection,
// shows the values the gadget reads from one and writes the user's application keys into one.
// Each command is one function and one row of the table below.

#include "base/UnitExceptions.h"
#include "storage/UnitKovaDat.h"
#include "storage/UnitKovaDatFile.h"

#include <cstdio>
#include <exception>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

// The options of set-keys, each naming the value it sets.
struct TKeyOption {
    const char* Name;
    std::optional<std::string> TGadgetDatKeys::*Field;
};

const TKeyOption KeyOptions[] = {{"--dev-id", &TGadgetDatKeys::DevID},
                                 {"--app-id", &TGadgetDatKeys::AppID},
                                 {"--cert-id", &TGadgetDatKeys::CertID},
                                 {"--runame", &TGadgetDatKeys::RuName},
                                 {"--sign-in", &TGadgetDatKeys::SignInKind}};

struct TArguments {
    std::vector<std::string> Files;
    std::string PassPhrase = KovaDatPassPhrase;
    // The key options in the order given; a value "-" is read from standard input, one line each.
    std::vector<std::pair<const TKeyOption*, std::string>> Keys;
};

struct TCommand {
    const char* Name;
    size_t FileCount;
    const char* Usage;
    const char* Help;
    int (*Run)(const TArguments& arguments);
};

int Pack(const TArguments& arguments) {
    PackKovaDatFile(arguments.Files[0], arguments.Files[1], arguments.PassPhrase);
    return 0;
}

void WriteToOutput(const std::string& bytes) {
    if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size() || std::fflush(stdout) != 0)
        throw EWriteError("Cannot write to standard output");
}

int Unpack(const TArguments& arguments) {
    WriteToOutput(UnpackKovaDatFile(arguments.Files[0], arguments.PassPhrase));
    return 0;
}

int Show(const TArguments& arguments) {
    LoadGadgetDat("", arguments.Files[0], arguments.PassPhrase);
    const std::string lines = GadgetDatLines(*GadgetDat());
    FreeGadgetDat();
    WriteToOutput(lines);
    return 0;
}

// One line of standard input without its line end; a value must not come from a closed input unnoticed.
std::string ReadInputLine(const char* option) {
    std::string line;
    if (!std::getline(std::cin, line))
        throw EReadError(std::string("No line on standard input for ") + option);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

int SetKeys(const TArguments& arguments) {
    if (arguments.Keys.empty())
        throw Exception("set-keys needs at least one of --dev-id, --app-id, --cert-id, "
                        "--runame, --sign-in");
    TGadgetDatKeys keys;
    for (const auto& [option, value] : arguments.Keys)
        keys.*(option->Field) = value == "-" ? ReadInputLine(option->Name) : value;
    SaveGadgetDatKeys(GadgetDatPath(arguments.Files[0], ""), keys, arguments.PassPhrase);
    return 0;
}

const TCommand Commands[] = {
    {"pack", 2, "pack IN.xml OUT.dat [--passphrase TEXT]",
     "Compresses IN.xml (zlib), puts its MD5 digest in front and encrypts both (AES-256) with the key of "
     "the\n"
     "pass phrase into OUT.dat, which is replaced atomically. IN.xml is packed as it is, not checked.",
     Pack},
    {"unpack", 1, "unpack IN.dat [--passphrase TEXT]",
     "Decrypts IN.dat, checks its digest, inflates it and writes the payload to standard output byte for "
     "byte.",
     Unpack},
    {"show", 1, "show IN.dat [--passphrase TEXT]",
     "Loads IN.dat as the gadget does and prints every value of COMMON, EBAYAPI, then SIGNIN, one NAME=value "
     "line\n"
     "    each; booleans read true or false, control characters in a value show as \\n, \\r, \\t or "
     "\\xHH.\n"
     "    A blank pass phrase reads IN.dat as plain XML.",
     Show},
    {"set-keys", 1,
     "set-keys GADGETDIR [--dev-id ID] [--app-id ID] [--cert-id ID] [--runame NAME] [--sign-in token|oauth]",
     "Writes the given application keys, redirect name and sign-in kind into GADGETDIR/KovaDat.dat, keeping\n"
     "    every other value; the file is replaced atomically and readable by its owner only. A value \"-\" "
     "is\n"
     "    read from standard input, one line for each such option in the order given.",
     SetKeys},
};

void PrintHelp(std::FILE* to) {
    std::fputs("Usage:\n", to);
    for (const auto& command : Commands)
        std::fprintf(to, "  kova-dat %s\n", command.Usage);
    std::fputs("  kova-dat --help\n\nCommands:\n", to);
    for (const auto& command : Commands)
        std::fprintf(to, "  %s\n    %s\n", command.Name, command.Help);
    std::fputs("\n--passphrase TEXT  use TEXT instead of the gadget's fixed pass phrase for KovaDat.dat.\n"
               "On failure the error is written to standard error and the exit status is 1.\n",
               to);
}

const TKeyOption* FindKeyOption(const std::string& name) {
    for (const auto& option : KeyOptions)
        if (name == option.Name) return &option;
    return nullptr;
}

int UsageError(const std::string& message) {
    std::fprintf(stderr, "%s\n\n", message.c_str());
    PrintHelp(stderr);
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    for (const auto& arg : args)
        if (arg == "--help" || arg == "-h") {
            PrintHelp(stdout);
            return 0;
        }
    if (args.empty()) return UsageError("No command given.");
    const TCommand* command = nullptr;
    for (const auto& candidate : Commands)
        if (args[0] == candidate.Name) command = &candidate;
    if (!command) return UsageError("Unknown command \"" + args[0] + "\".");

    TArguments arguments;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--passphrase") {
            if (++i == args.size()) return UsageError("--passphrase needs a value.");
            arguments.PassPhrase = args[i];
        } else if (arg.rfind("--passphrase=", 0) == 0) {
            arguments.PassPhrase = arg.substr(13);
        } else if (const TKeyOption* key = FindKeyOption(arg); key && command->Run == SetKeys) {
            if (++i == args.size()) return UsageError(arg + " needs a value.");
            arguments.Keys.emplace_back(key, args[i]);
        } else if (arg.size() > 1 && arg[0] == '-') {
            return UsageError("Unknown option \"" + arg + "\".");
        } else {
            arguments.Files.push_back(arg);
        }
    }
    if (arguments.Files.size() != command->FileCount)
        return UsageError(std::string("Usage: kova-dat ") + command->Usage);

    try {
        return command->Run(arguments);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
}
