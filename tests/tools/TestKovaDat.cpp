#include "platform/UnitPlatformFiles.h"
#include "platform/UnitPlatformRunProgram.h"
#include "storage/UnitKovaDatFile.h"
#include "support/KovaTestSupport.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

TProgramRun KovaDat(const std::vector<std::string>& arguments) {
    return RunProgram(KOVA_BIN_DIR "/kova-dat", arguments);
}

const std::string Xml =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<KOVADAT><COMMON><TRACKER>Gr\xC3\xB6\xC3\x9F"
    "e</TRACKER></COMMON></KOVADAT>\n";

} // namespace

TEST(KovaDat, PacksAndUnpacksByteForByte) {
    TTempDir dir;
    const std::string in = dir.Write("KovaDat.xml", Xml);
    const std::string out = dir.File("KovaDat.dat");
    TProgramRun pack = KovaDat({"pack", in, out});
    ASSERT_EQ(pack.ExitCode, 0) << pack.ErrorOutput;
    EXPECT_EQ(pack.Output, "");
    EXPECT_EQ(UnpackKovaDatFile(out), Xml) << "the gadget's reader takes what the tool writes";

    TProgramRun unpack = KovaDat({"unpack", out});
    ASSERT_EQ(unpack.ExitCode, 0) << unpack.ErrorOutput;
    EXPECT_EQ(unpack.Output, Xml);

    const std::string custom = dir.File("custom.dat");
    ASSERT_EQ(KovaDat({"pack", in, custom, "--passphrase", "my phrase"}).ExitCode, 0);
    EXPECT_EQ(KovaDat({"unpack", "--passphrase=my phrase", custom}).Output, Xml);
}

TEST(KovaDat, FailuresGoToStandardErrorWithStatusOne) {
    TTempDir dir;
    const std::string in = dir.Write("in.xml", Xml);
    const std::string out = dir.File("out.dat");
    ASSERT_EQ(KovaDat({"pack", in, out, "--passphrase", "right"}).ExitCode, 0);
    const std::string packed = ReadTextFile(out);

    TProgramRun wrong = KovaDat({"unpack", out});
    EXPECT_EQ(wrong.ExitCode, 1);
    EXPECT_EQ(wrong.ErrorOutput, "TKryptUtils.DecryptStreamWithHash: Wrong Hash\n");
    EXPECT_EQ(wrong.Output, "");

    TProgramRun missing = KovaDat({"pack", dir.File("missing.xml"), out});
    EXPECT_EQ(missing.ExitCode, 1);
    EXPECT_NE(missing.ErrorOutput.find(dir.File("missing.xml")), std::string::npos) << missing.ErrorOutput;
    EXPECT_EQ(ReadTextFile(out), packed) << "a failed pack leaves the old file whole";
    EXPECT_EQ(KovaDat({"unpack", dir.File("missing.dat")}).ExitCode, 1);
    EXPECT_EQ(KovaDat({"pack", in, out, "--passphrase", ""}).ErrorOutput,
              "TKryptHelperPassPhrase.Create: Passphrase is empty\n");
    EXPECT_EQ(ReadTextFile(out), packed);

    for (const std::vector<std::string>& bad :
         std::vector<std::vector<std::string>>{{},
                                               {"frobnicate"},
                                               {"pack", in},
                                               {"unpack"},
                                               {"unpack", out, "--passphrase"},
                                               {"unpack", out, "-x"}}) {
        TProgramRun run = KovaDat(bad);
        EXPECT_EQ(run.ExitCode, 1) << bad.size();
        EXPECT_NE(run.ErrorOutput.find("kova-dat pack IN.xml OUT.dat"), std::string::npos) << run.ErrorOutput;
    }
}

TEST(KovaDat, HelpExplainsEveryCommand) {
    TProgramRun help = KovaDat({"--help"});
    EXPECT_EQ(help.ExitCode, 0);
    for (const char* text : {"kova-dat pack IN.xml OUT.dat [--passphrase TEXT]", "kova-dat unpack IN.dat",
                             "standard output", "--passphrase TEXT"})
        EXPECT_NE(help.Output.find(text), std::string::npos) << text;
}

TEST(KovaDat, SetKeysTakesValuesFromOptionsAndStandardInput) {
    TTempDir dir;
    const std::string dat = dir.File("KovaDat.dat");
    ASSERT_EQ(KovaDat({"pack", KOVA_SOURCE_DIR "/gadget/KovaDat.xml", dat}).ExitCode, 0);
    // Secrets go through standard input, so that no command line shows them.
    const std::string command =
        "printf 'cert secret\\nMy-RuName\\n' | '" KOVA_BIN_DIR "/kova-dat' set-keys '" + dir.Path() +
        "' --dev-id dev1 --cert-id - --app-id app1 --runame - --sign-in oauth";
    TProgramRun set = RunProgram("/bin/sh", {"-c", command});
    ASSERT_EQ(set.ExitCode, 0) << set.ErrorOutput;
    EXPECT_EQ(FilePermissions(dat), 0600);
    TProgramRun show = KovaDat({"show", dat});
    for (const char* line :
         {"\nAPICertID=cert secret\n", "\nAPIAppID=app1\n", "\nAPIDevID=dev1\n", "\nRUNAME=My-RuName\n",
          "\nSIGNINKIND=oauth\n", "\nAPIServerProduction=https://api.ebay.com/ws/api.dll\n"})
        EXPECT_NE(show.Output.find(line), std::string::npos) << line << show.Output;

    const std::string before = ReadTextFile(dat);
    struct TCase {
        std::vector<std::string> Arguments;
        const char* Error;
    } cases[] = {
        {{"set-keys", dir.Path()}, "set-keys needs at least one of"},
        {{"set-keys", dir.Path(), "--app-id", "-"}, "No line on standard input for --app-id"},
        {{"set-keys", dir.Path(), "--sign-in", "other"}, "The sign-in kind must be"},
        {{"set-keys", dir.Path(), "--app-id"}, "--app-id needs a value."},
        {{"show", dat, "--app-id", "x"}, "Unknown option \"--app-id\""},
        // Values that would leave the file unreadable or a key cut short; the last two come on standard
        // input.
        {{"set-keys", dir.Path(), "--dev-id", "\xff\xfe\xc0\xaf"}, "DevID is refused: it is not UTF-8 text"},
        {{"set-keys", dir.Path(), "--app-id", "app\tone"}, "AppID is refused: it holds a control character"},
        {{"set-keys", dir.Path(), "--runame", "Ru\xc2\x85Name"}, "RuName is refused: it holds a control"},
        {{"printf 'ce\\000rt\\n' |"}, "CertID is refused: it holds a control character"},
        {{"printf '\\300\\257\\n' |"}, "CertID is refused: it is not UTF-8 text"},
    };
    for (const TCase& c : cases) {
        TProgramRun run =
            c.Arguments.size() > 1
                ? KovaDat(c.Arguments)
                : RunProgram("/bin/sh", {"-c", c.Arguments[0] + " '" KOVA_BIN_DIR "/kova-dat' set-keys '" +
                                                   dir.Path() + "' --cert-id -"});
        EXPECT_EQ(run.ExitCode, 1) << c.Error;
        EXPECT_NE(run.ErrorOutput.find(c.Error), std::string::npos) << run.ErrorOutput;
        EXPECT_EQ(ReadTextFile(dat), before) << c.Error;
    }
}
