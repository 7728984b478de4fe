#include "host/KovaGadgetMembers.h"
#include "host/KovaGadgetUnit.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <set>
#include <sstream>

namespace {

const std::string DocsPath = std::string(KOVA_SOURCE_DIR) + "/docs/host-protocol.md";
const std::string Begin = "<!-- members: generated, do not edit by hand -->\n";
const std::string End = "<!-- end of members -->\n";

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs of white space as one blank, none at the ends.
std::string Squeezed(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (!std::isspace(static_cast<unsigned char>(c)))
            out += c;
        else if (!out.empty() && out.back() != ' ')
            out += ' ';
    }
    if (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

std::set<std::string> Options(const std::string& text) {
    static const std::regex option(R"re(--[a-z][a-z-]*)re");
    std::set<std::string> found;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), option); it != std::sregex_iterator(); ++it)
        found.insert(it->str());
    return found;
}

} // namespace

TEST(GadgetMemberTable, TheDocsListEveryMember) {
    std::string docs = ReadText(DocsPath);
    const size_t begin = docs.find(Begin), end = docs.find(End);
    ASSERT_NE(begin, std::string::npos) << DocsPath << " lacks the line " << Begin;
    ASSERT_NE(end, std::string::npos) << DocsPath << " lacks the line " << End;
    const std::string expected = "\n" + KovaGadgetMemberList(KovaGadgetMemberTable()) + "\n";
    const std::string shown = docs.substr(begin + Begin.size(), end - begin - Begin.size());
    if (shown != expected && std::getenv("KOVA_UPDATE_DOCS")) {
        docs.replace(begin + Begin.size(), shown.size(), expected);
        std::ofstream(DocsPath, std::ios::binary) << docs;
        return;
    }
    EXPECT_EQ(shown, expected) << "run this test with KOVA_UPDATE_DOCS=1 to write the list anew";
}

// A member written only into a table reaches the type library, the dispatch and the docs' list.
TEST(GadgetMemberTable, AMemberAddedToTheTableAloneIsEverywhere) {
    TKovaGadgetMemberTable table = KovaGadgetMemberTable();
    table.push_back({299,
                     "EchoForTests",
                     TMemberShape::Method,
                     TVarType::BStr,
                     {{"iText", TVarType::BStr}},
                     [](TKovaGadget&, const TKovaArgs& args) -> TKovaVariant {
                         return std::get<std::string>(args[0]) + "!";
                     },
                     nullptr,
                     {}});
    table.push_back(
        {298, "FlagForTests", TMemberShape::ReadWrite, TVarType::Bool, {}, nullptr, nullptr, true});

    const std::vector<TDispMember> members = ExpandMembers(table);
    ASSERT_EQ(members.size(), IKovaGadgetMembers().size() + 3);
    const TDispMember& echo = members[members.size() - 3];
    EXPECT_EQ(echo.DispID, 299);
    EXPECT_EQ(echo.Kind, TDispKind::Method);
    EXPECT_EQ(echo.Params.size(), 1u);
    EXPECT_EQ(members.back().Kind, TDispKind::PropertyPut);

    TKovaGadget gadget;
    TKovaGadgetDispatch dispatch(gadget, table);
    TKovaDispResult r = dispatch.Invoke("echofortests", TDispKind::Method, {TKovaVariant{std::string("hi")}});
    EXPECT_TRUE(r.Succeeded) << r.ErrorMessage;
    EXPECT_EQ(r.Value, TKovaVariant{std::string("hi!")});
    EXPECT_FALSE(dispatch.Invoke(299, TDispKind::Method, {TKovaVariant{1}}).Succeeded) << "types are checked";
    EXPECT_EQ(dispatch.Invoke(298, TDispKind::PropertyGet, {}).Value, TKovaVariant{true});
    EXPECT_TRUE(dispatch.Invoke("FlagForTests", TDispKind::PropertyPut, {TKovaVariant{false}}).Succeeded);
    EXPECT_EQ(dispatch.Invoke(298, TDispKind::PropertyGet, {}).Value, TKovaVariant{false});

    const std::string list = KovaGadgetMemberList(table);
    EXPECT_NE(list.find("| 299 | `EchoForTests` | method | `iText` BSTR | BSTR |"), std::string::npos)
        << list;
    EXPECT_NE(list.find("| 298 | `FlagForTests` | property, read-write |"), std::string::npos) << list;

    // The host finds its special members by role, whatever their DISPIDs.
    EXPECT_EQ(RoleMember(TMemberRole::Init).Name, "Init");
    EXPECT_EQ(RoleMember(TMemberRole::Terminate).DispID, 223);
    EXPECT_EQ(FindDispMember("isworking", TDispKind::PropertyGet)->Role, TMemberRole::Poll);
}

// The docs name the options the program takes, whichever options it gains.
TEST(GadgetDocs, TheUsageLinesFollowTheHelp) {
    std::string help;
    FILE* program = popen(KOVA_BIN_DIR "/kova-gadget --help", "r");
    ASSERT_NE(program, nullptr);
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, program)) > 0;)
        help.append(buffer, n);
    ASSERT_EQ(pclose(program), 0) << help;
    ASSERT_EQ(help.rfind("usage: kova-gadget ", 0), 0u) << help;
    const std::string synopsis = help.substr(7, help.find("\n\n") - 7);

    const std::string docs = ReadText(DocsPath);
    const size_t start = docs.find("```\n", docs.find("## Start"));
    ASSERT_NE(start, std::string::npos) << "no code block under \"## Start\" in " << DocsPath;
    const std::string block = docs.substr(start + 4, docs.find("```", start + 4) - start - 4);
    EXPECT_EQ(Squeezed(block), Squeezed(synopsis)) << "the usage line of docs/host-protocol.md";

    // README names every option in its prose; every option it shows on a kova-gadget command exists.
    const std::string readme = ReadText(KOVA_SOURCE_DIR "/README.md");
    const std::set<std::string> options = Options(synopsis);
    const std::set<std::string> named = Options(readme);
    for (const std::string& option : options)
        EXPECT_TRUE(named.count(option)) << "README does not name " << option;
    static const std::regex command(R"re(kova-gadget( [^`\n#]*))re");
    for (auto it = std::sregex_iterator(readme.begin(), readme.end(), command); it != std::sregex_iterator();
         ++it)
        for (const std::string& option : Options((*it)[1]))
            EXPECT_TRUE(options.count(option))
                << "README runs " << it->str() << ", but --help has no " << option;
}
