// The control's fragments call the page's functions by name and name elements by id; the page binds those
// names and looks those ids up. Both sides hold the contract only in string literals, so this test renders
// every fragment the control writes and reads the page's sources as text.
#include "host/KovaGadgetUnit.h"
#include "platform/UnitPlatformMainThread.h"
#include "support/GadgetTestDirectory.h"
#include "support/KovaTestSupport.h"
#include "support/SandboxProcess.h"
#include "watchlist/UnitKovaThreads.h"
#include "watchlist/UnitKovaWatchList.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <regex>
#include <set>

namespace {

using Names = std::set<std::string>;

std::vector<std::smatch> Matches(const std::string& text, const std::regex& pattern) {
    return {std::sregex_iterator(text.begin(), text.end(), pattern), std::sregex_iterator()};
}

// One fragment call: onLink('result3', '123', 'true').
struct TFragmentCall {
    std::string Name;
    std::vector<std::string> Args;
};

std::vector<TFragmentCall> FragmentCalls(const std::string& html) {
    static const std::regex attribute(R"re(\s(?:on\w+|href)\s*=\s*"([^"]*)")re", std::regex::icase);
    static const std::regex call(R"re(^\s*(?:javascript:)?\s*([A-Za-z_]\w*)\s*\(([^()]*)\))re",
                                 std::regex::icase);
    static const std::regex argument(R"re('((?:[^'\\]|\\.)*)')re");
    std::vector<TFragmentCall> calls;
    for (const auto& a : Matches(html, attribute)) {
        const std::string value = a[1];
        const bool script =
            value.find("javascript:") != std::string::npos || a[0].str().find("href") == std::string::npos;
        std::smatch c;
        if (!script || !std::regex_search(value, c, call)) continue;
        TFragmentCall found{c[1], {}};
        const std::string args = c[2];
        for (const auto& arg : Matches(args, argument))
            found.Args.push_back(arg[1]);
        calls.push_back(found);
    }
    return calls;
}

Names ElementIds(const std::string& html) {
    static const std::regex id(R"re(\sid\s*=\s*(?:"([^"]*)"|'([^']*)'|([^\s>"']+)))re", std::regex::icase);
    Names ids;
    for (const auto& m : Matches(html, id))
        ids.insert(m[1].matched ? m[1].str() : m[2].matched ? m[2].str() : m[3].str());
    return ids;
}

// The page as the browser gets it: index.html and every module of js/, whatever their number.
struct TPage {
    std::string Html, Script;
};

TPage ReadPage() {
    TPage page{ReadTextFile(KOVA_SOURCE_DIR "/gadget/index.html"), ""};
    for (const auto& entry : std::filesystem::directory_iterator(KOVA_SOURCE_DIR "/gadget/js"))
        if (entry.path().extension() == ".mjs") page.Script += ReadTextFile(entry.path().string()) + "\n";
    return page;
}

// The names of the object the page hands to adoptFragment: the only calls a fragment can make.
Names PageCallTable(const std::string& script) {
    std::smatch m;
    static const std::regex adopt(R"re(adoptFragment\(\s*[^,()]+,\s*(\w+)\s*\))re");
    if (!std::regex_search(script, m, adopt)) return {};
    const std::regex table("(?:const|let|var)\\s+" + m[1].str() + "\\s*=\\s*\\{([^}]*)\\}");
    if (!std::regex_search(script, m, table)) return {};
    Names names;
    static const std::regex key(R"re((?:^|,)\s*([A-Za-z_$][\w$]*))re");
    const std::string body = m[1];
    for (const auto& k : Matches(body, key))
        names.insert(k[1]);
    return names;
}

// For a page function: which of its parameters it looks up as an element id; nothing when the page has no
// such function.
std::optional<std::vector<bool>> ParametersLookedUp(const std::string& script, const std::string& function) {
    std::smatch m;
    const std::regex head("function\\s+" + function + "\\s*\\(([^)]*)\\)\\s*\\{");
    if (!std::regex_search(script, m, head)) return std::nullopt;
    const std::string rest = m.suffix();
    const std::string body = rest.substr(0, rest.find("\n}"));
    std::vector<bool> lookedUp;
    static const std::regex parameter(R"re([A-Za-z_$][\w$]*)re");
    const std::string list = m[1];
    for (const auto& p : Matches(list, parameter)) {
        const std::regex use("(?:\\$|getElementById)\\(\\s*" + p.str() + "\\s*\\)");
        lookedUp.push_back(std::regex_search(body, use));
    }
    return lookedUp;
}

// Ids the page's scripts look up by a literal: $('x'), getElementById('x'), a selector's #x.
Names IdsLookedUp(const std::string& script) {
    static const std::regex byId(R"re((?:\$|getElementById)\(\s*['"`]([^'"`]+)['"`]\s*\))re");
    static const std::regex selector(R"re(querySelector(?:All)?\(\s*['"`]([^'"`]*)['"`])re");
    static const std::regex hash(R"re(#([A-Za-z_][\w-]*))re");
    Names ids;
    for (const auto& m : Matches(script, byId))
        ids.insert(m[1]);
    for (const auto& m : Matches(script, selector)) {
        const std::string text = m[1];
        for (const auto& h : Matches(text, hash))
            ids.insert(h[1]);
    }
    return ids;
}

class FragmentContractTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Sandbox = new TSandboxProcess({"pages:12", "nobody:0"});
        setenv("KOVA_EXTRA_CA_FILE", Sandbox->CAPath().c_str(), 1);
    }
    static void TearDownTestSuite() {
        delete Sandbox;
        Sandbox = nullptr;
        unsetenv("KOVA_EXTRA_CA_FILE");
    }
    void SetUp() override { SetMainThread(); }
    void TearDown() override {
        if (Gadget.WatchList()) Gadget.Terminate();
        EXPECT_TRUE(MainThreadQueue().RunUntil([] { return TThreadBase::LiveCount() == 0; }, 30000));
    }
    void Load(const std::string& account) {
        Dir.SaveLogInData(account, "secret", Sandbox->Token(account));
        Gadget.LoadWatchlist();
        ASSERT_TRUE(MainThreadQueue().RunUntil([this] { return !Gadget.IsWorking(); }, 30000));
    }
    std::string File(const char* name) const { return ReadTextFile(Dir.File(name)); }

    static TSandboxProcess* Sandbox;
    TGadgetTestDirectory Dir{SandboxGadget(*Sandbox)};
    TKovaGadget Gadget;
};

TSandboxProcess* FragmentContractTest::Sandbox = nullptr;

} // namespace

TEST_F(FragmentContractTest, EveryNameAFragmentUsesIsThePagesAndEveryIdThePageSeeksExists) {
    // Every state of "result.txt", and "details.html".
    std::map<std::string, std::string> fragments;
    Dir.SaveLogInData("pages", "secret", Sandbox->Token("pages"));
    Gadget.Init(Dir.Dir().Path());
    ASSERT_NE(Gadget.WatchList(), nullptr);
    Load("pages");
    fragments["first page"] = File("result.txt");
    Gadget.NextPage();
    fragments["middle page"] = File("result.txt");
    Gadget.LastPage();
    fragments["last page"] = File("result.txt");
    const std::vector<TFragmentCall> firstCalls = FragmentCalls(fragments["first page"]);
    const auto details = std::find_if(firstCalls.begin(), firstCalls.end(),
                                      [](const TFragmentCall& c) { return c.Args.size() == 1; });
    ASSERT_NE(details, firstCalls.end()) << "no details call in " << fragments["first page"];
    ASSERT_TRUE(Gadget.BuildDetailsFileFor(details->Args[0]));
    fragments["details"] = File("details.html");
    Sandbox->Fault({{"call", "GetMyeBayBuying"}, {"page", 1}, {"kind", "status"}, {"status", 500}});
    Load("pages");
    fragments["message over kept items"] = File("result.txt");
    Sandbox->Reset();
    Load("nobody");
    fragments["empty"] = File("result.txt");

    const TPage page = ReadPage();
    const Names callable = PageCallTable(page.Script);
    ASSERT_FALSE(callable.empty()) << "the page hands no call table of `const NAME = {...}` to adoptFragment";
    Names fragmentIds = ElementIds(page.Html), used;
    for (const auto& [state, html] : fragments) {
        SCOPED_TRACE(state);
        const Names ids = ElementIds(html);
        fragmentIds.insert(ids.begin(), ids.end());
        for (const TFragmentCall& call : FragmentCalls(html)) {
            used.insert(call.Name);
            EXPECT_TRUE(callable.count(call.Name))
                << "the fragment calls " << call.Name << ", which the page does not hand to adoptFragment";
            const auto lookedUp = ParametersLookedUp(page.Script, call.Name);
            EXPECT_TRUE(lookedUp || !callable.count(call.Name))
                << "the page defines no `function " << call.Name << "(...)`";
            for (size_t i = 0; lookedUp && i < lookedUp->size() && i < call.Args.size(); ++i)
                EXPECT_TRUE(!(*lookedUp)[i] || ids.count(call.Args[i]))
                    << call.Name << " looks up the element \"" << call.Args[i]
                    << "\", which the fragment lacks";
        }
    }
    EXPECT_TRUE(used.count("nextPage") && used.count("onOpenDetails"))
        << "the states above were not rendered";
    for (const std::string& id : IdsLookedUp(page.Script))
        EXPECT_TRUE(fragmentIds.count(id))
            << "the page looks up #" << id << ", which neither index.html nor any fragment holds";
}
