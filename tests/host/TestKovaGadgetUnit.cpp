// ctest-labels: threaded
#include "base/UnitUtils.h"
#include "dialogs/FormKovaGadgetAuthorize.h"
#include "dialogs/UnitFormModel.h"
#include "ebayapi/UnitKovaGadgetCalls.h"
#include "ebayapi/UnitXMLParser.h"
#include "host/KovaGadgetMembers.h"
#include "host/KovaGadgetUnit.h"
#include "items/UnitResultLst.h"
#include "platform/UnitPlatformFiles.h"
#include "platform/UnitPlatformMainThread.h"
#include "platform/UnitPlatformMonotonic.h"
#include "storage/UnitKovaDatFile.h"
#include "storage/UnitKovaeBayLogin.h"
#include "support/GadgetTestDirectory.h"
#include "support/RecordingOpener.h"
#include "support/SandboxProcess.h"
#include "support/ScriptedFormHost.h"
#include "watchlist/UnitKovaThreads.h"
#include "watchlist/UnitKovaWatchList.h"

#include <gtest/gtest.h>

namespace {

constexpr const char* NoAuctionsLine =
    "<div id=\"Message\" class=message><B> No auctions available</B></div>";

std::string ErrorLine(const std::string& statusText) {
    return "<div id=\"Message\" class=message><B>Error loading Watchlist: " + statusText + "</B></div>";
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    EXPECT_EQ(start, text.size()) << "every line ends in CR LF";
    return lines;
}

// The counters of the item lines and the page number text of a result file.
struct TShownPage {
    std::vector<int> Counters;
    std::string PageNumber;
};

TShownPage ShownPage(const std::string& text) {
    TShownPage page;
    const auto lines = Lines(text);
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (line.rfind("<div id=\"result", 0) == 0) {
            page.Counters.push_back(std::stoi(line.substr(15)));
            EXPECT_NE(line.find("</td></tr></table></div>"), std::string::npos) << line;
            const bool winner = line.find("resultWinner.png") != std::string::npos;
            EXPECT_EQ(line.find("'true');\" onMouseOut") != std::string::npos, winner) << line;
        }
        if (line == "<div id=pageNumber>" && i + 1 < lines.size()) page.PageNumber = lines[i + 1];
    }
    return page;
}

std::vector<int> Range(int first, int last) {
    std::vector<int> values;
    for (int i = first; i <= last; ++i)
        values.push_back(i);
    return values;
}

class GadgetTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Sandbox = new TSandboxProcess({"demo:250", "big:400", "nobody:0", "seven:7"});
        setenv("KOVA_EXTRA_CA_FILE", Sandbox->CAPath().c_str(), 1);
    }
    static void TearDownTestSuite() {
        delete Sandbox;
        Sandbox = nullptr;
        unsetenv("KOVA_EXTRA_CA_FILE");
    }
    void SetUp() override {
        SetMainThread();
        Sandbox->Reset();
    }
    void TearDown() override {
        if (Gadget.WatchList()) Gadget.Terminate();
        EXPECT_TRUE(MainThreadQueue().RunUntil([] { return TThreadBase::LiveCount() == 0; }, 30000));
    }

    // Saves login data with a fresh token for the account, then starts the control.
    void Start(const std::string& account) {
        Dir.SaveLogInData(account, "secret", Sandbox->Token(account));
        Gadget.Init(Dir.Dir().Path());
        ASSERT_NE(Gadget.WatchList(), nullptr);
    }
    void WaitIdle() {
        ASSERT_TRUE(MainThreadQueue().RunUntil([this] { return !Gadget.IsWorking(); }, 60000));
    }
    void Load() {
        Gadget.LoadWatchlist();
        WaitIdle();
    }
    std::string Result() const { return ReadTextFile(Dir.File("result.txt")); }
    int WatchListRequests() const {
        int count = 0;
        for (const auto& request : Sandbox->Requests())
            count += request["call"] == "GetMyeBayBuying";
        return count;
    }

    static TSandboxProcess* Sandbox;
    TRecordingOpener Opener; // the sign-in page is not opened in a real browser
    TGadgetTestDirectory Dir{SandboxGadget(*Sandbox)};
    TKovaGadget Gadget;
};

TSandboxProcess* GadgetTest::Sandbox = nullptr;

TEST_F(GadgetTest, LoadsInPagesThenPagesThroughTheItemsWithoutTheNetwork) {
    Start("demo");
    EXPECT_EQ(Gadget.HomeDirectory(), Dir.Home());
    Gadget.LoadWatchlist();
    EXPECT_TRUE(Gadget.IsWorking());
    WaitIdle();
    EXPECT_EQ(WatchListRequests(), 3);
    TShownPage page = ShownPage(Result());
    EXPECT_EQ(page.Counters, Range(0, 4));
    EXPECT_EQ(page.PageNumber, "1/50");

    Gadget.LastPage();
    page = ShownPage(Result());
    EXPECT_EQ(page.Counters, Range(245, 249));
    EXPECT_EQ(page.PageNumber, "50/50");
    Gadget.PrevPage();
    EXPECT_EQ(ShownPage(Result()).PageNumber, "49/50");
    Gadget.FirstPage();
    EXPECT_EQ(ShownPage(Result()).Counters, Range(0, 4));
    EXPECT_EQ(WatchListRequests(), 3) << "paging renders from memory";

    Gadget.Terminate();
    TDetailsList saved;
    ASSERT_TRUE(saved.LoadFromFile(Dir.File("watchlist.dat")));
    EXPECT_EQ(saved.Count(), 250);
}

TEST_F(GadgetTest, ALoadThatShrinksTheListShowsItsLastPage) {
    Start("demo");
    Load();
    Gadget.LastPage();
    EXPECT_EQ(ShownPage(Result()).PageNumber, "50/50");
    Dir.SaveLogInData("seven", "secret", Sandbox->Token("seven")); // another user signs in
    Load();
    const TShownPage page = ShownPage(Result());
    EXPECT_EQ(page.Counters, Range(5, 6));
    EXPECT_EQ(page.PageNumber, "2/2");
}

TEST_F(GadgetTest, LoadsTheLargestWatchListInFourPages) {
    Start("big");
    Load();
    EXPECT_EQ(WatchListRequests(), 4);
    EXPECT_EQ(Gadget.WatchList()->ItemCount(), 400);
    EXPECT_EQ(ShownPage(Result()).PageNumber, "1/80");
}

TEST_F(GadgetTest, AnEmptyWatchListShowsOnlyTheNoAuctionsBlock) {
    Start("nobody");
    Load();
    EXPECT_EQ(Lines(Result()), (std::vector<std::string>{"<div id=results>", NoAuctionsLine, "</div>"}));
}

TEST_F(GadgetTest, TransportFailuresShowTheirMessage) {
    Start("demo");
    Sandbox->Fault({{"call", "GetMyeBayBuying"}, {"page", 1}, {"kind", "status"}, {"status", 401}});
    Load();
    EXPECT_EQ(Lines(Result()),
              (std::vector<std::string>{"<div id=results>", NoAuctionsLine,
                                        ErrorLine("Internet error! Message: &quot;Unauthorized&quot;."),
                                        "</div>"}));

    Sandbox->Fault({{"call", "GetMyeBayBuying"}, {"page", 2}, {"kind", "status"}, {"status", 503}});
    Load();
    EXPECT_EQ(WatchListRequests(), 4) << "page 3 is still asked for";
    EXPECT_EQ(Lines(Result()),
              (std::vector<std::string>{
                  "<div id=results>", NoAuctionsLine,
                  ErrorLine("Internet error! Message: &quot;Service unavailable&quot;."), "</div>"}))
        << "an incomplete load keeps the list it had, here none";
    // The next good load shows the list again.
    Load();
    EXPECT_EQ(ShownPage(Result()).PageNumber, "1/50");
}

// Every kind of broken answer, on the first page and on the second of three, after a good load: the load
// ends within its deadline, says why, and the user keeps the list and its file.
TEST_F(GadgetTest, EveryFailedLoadEndsInTimeSaysWhyAndKeepsTheList) {
    // Short enough for a quick run, long enough for several TLS handshakes at once on a busy machine.
    constexpr int ReadMs = 2000, OverallMs = 4000;
    SetAPICallDeadlines(ReadMs, OverallMs);
    struct TRestoreDeadlines {
        ~TRestoreDeadlines() { SetAPICallDeadlines(20000, 60000); }
    } restore;
    const std::string ackFailure =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><GetMyeBayBuyingResponse "
        "xmlns=\"urn:ebay:apis:eBLBaseComponents\"><Ack>Failure</Ack><Errors><ShortMessage>Just a "
        "warning</ShortMessage><ErrorCode>21917</ErrorCode><SeverityCode>Warning</SeverityCode></"
        "Errors><Errors>"
        "<ShortMessage>Internal error to the application.</ShortMessage><ErrorCode>10007</ErrorCode>"
        "<SeverityCode>Error</SeverityCode></Errors></GetMyeBayBuyingResponse>";
    std::string ackFailureText;
    {
        TXMLMyEbayWatchListParser parser;
        TDetailsList list;
        TMemoryStream answer(ackFailure);
        ASSERT_FALSE(parser.ParseWatchList(&answer, list, false));
        ackFailureText = parser.ResultMessage();
        ASSERT_NE(ackFailureText.find("Internal error to the application."), std::string::npos);
    }
    const std::string notParsed = "The results could not be parsed.";
    const std::string lost = "Internet error! Message: \"The connection to the server was lost\".";
    const std::string timeout =
        "Internet error! Request timeout. Please try again later or limit search parameters.";
    struct TCase {
        nlohmann::json Fault;
        std::string Message;
    };
    const TCase cases[] = {
        {{{"kind", "status"}, {"status", 302}}, "Internet error! Message: \"Page moved temporarily\"."},
        {{{"kind", "status"}, {"status", 401}}, "Internet error! Message: \"Unauthorized\"."},
        {{{"kind", "status"}, {"status", 500}},
         "Internet error! Internal server error. Please try again later"},
        {{{"kind", "status"},
          {"status", 200},
          {"body", "<!DOCTYPE html><html><body>Down for maintenance<br></body></html>"}},
         notParsed},
        {{{"kind", "empty"}}, notParsed},
        {{{"kind", "notxml"}}, notParsed},
        {{{"kind", "truncated"}}, lost},
        {{{"kind", "drop"}}, lost},
        {{{"kind", "delay"}, {"ms", ReadMs + 1500}}, timeout},
        {{{"kind", "trickle"}, {"ms", 300}}, timeout},
        {{{"kind", "badcert"}},
         "Internet error! Message: \"The server's certificate could not be verified\"."},
        {{{"kind", "xml"}, {"body", ackFailure}}, ackFailureText},
        {{{"kind", "pages"}, {"count", 1000000}}, notParsed},
    };
    Start("demo");
    for (const TCase& c : cases)
        for (const int page : {1, 2}) {
            SCOPED_TRACE(c.Fault.dump() + " on page " + std::to_string(page));
            Load();
            ASSERT_EQ(Gadget.WatchList()->ItemCount(), 250);
            Gadget.FirstPage();
            Gadget.NextPage();
            const int requestsBefore = WatchListRequests();
            nlohmann::json fault = c.Fault;
            if (fault["kind"] == "badcert") {
                fault["after"] = page - 1; // a certificate belongs to a connection, not to a request
                Sandbox->Fault(fault);
            } else if (fault["kind"] == "pages") {
                fault["call"] = "GetMyeBayBuying";
                // Every page from this one on claims the count, up to the first one past the real three.
                for (int claiming = page; claiming <= 4; ++claiming) {
                    fault["page"] = claiming;
                    Sandbox->Fault(fault);
                }
            } else {
                fault["call"] = "GetMyeBayBuying";
                fault["page"] = page;
                Sandbox->Fault(fault);
            }
            const uint64_t started = MonotonicMs();
            Load();
            EXPECT_LT(MonotonicMs() - started, static_cast<uint64_t>(OverallMs + 2000));
            EXPECT_LE(WatchListRequests() - requestsBefore, TThreadGetMyEbayWatchlist::MaxPages);
            const auto lines = Lines(Result());
            ASSERT_GT(lines.size(), 2u);
            EXPECT_EQ(lines[1], ErrorLine(HtmlEscape(c.Message)));
            EXPECT_EQ(ShownPage(Result()).PageNumber, "2/50") << "the list and its page stay";
        }
    Gadget.Terminate();
    TDetailsList saved;
    ASSERT_TRUE(saved.LoadFromFile(Dir.File("watchlist.dat")));
    EXPECT_EQ(saved.Count(), 250);
}

TEST_F(GadgetTest, ARefusedTokenShowsItsMessageIsClearedAndTheNextLoadRunsTheWizard) {
    Start("seven");
    const std::string token = Sandbox->Token("seven");
    Dir.SaveLogInData("seven", "secret", token);
    Sandbox->Expire(token);
    Load();
    MainThreadQueue().ProcessPending();
    EXPECT_EQ(Lines(Result()),
              (std::vector<std::string>{"<div id=results>", NoAuctionsLine,
                                        ErrorLine("The token for using the eBay API is no longer valid."),
                                        "</div>"}));
    EXPECT_EQ(Gadget.LogInInfo()->Token, "");
    TEbayLogInInfo stored;
    ASSERT_TRUE(stored.CheckLogInData());
    EXPECT_EQ(stored.UserName + "|" + stored.Token, "seven|") << "the saved login data lose the token too";

    TScriptedFormHost host;
    host.Then([](TForm& form) { EXPECT_EQ(form.Caption, "Authorise Gadget on eBay"); });
    Load();
    EXPECT_EQ(WatchListRequests(), 1) << "no second load with the refused token";

    // eBay's answer for a revoked token (16110) and an invalid one (931) count the same.
    Sandbox->Fault({{"call", "GetMyeBayBuying"},
                    {"kind", "xml"},
                    {"body", ReadTextFile(KOVA_TEST_DATA_DIR "/ebayapi/code_16110.xml")}});
    Dir.SaveLogInData("seven", "secret", Sandbox->Token("seven"));
    Load();
    MainThreadQueue().ProcessPending();
    EXPECT_EQ(Gadget.LogInInfo()->Token, "");
}

TEST_F(GadgetTest, AnAnswerThatIsNoXmlKeepsTheListUnderItsMessageWhilePaging) {
    Start("seven");
    Load();
    EXPECT_EQ(ShownPage(Result()).PageNumber, "1/2");
    Sandbox->Fault({{"call", "GetMyeBayBuying"}, {"kind", "notxml"}});
    Load();
    for (int step = 0; step < 2; ++step) {
        const auto lines = Lines(Result());
        ASSERT_GT(lines.size(), 2u);
        EXPECT_EQ(lines[1], ErrorLine("The results could not be parsed."));
        EXPECT_EQ(ShownPage(Result()).PageNumber, step == 0 ? "1/2" : "2/2");
        Gadget.NextPage();
    }
}

TEST_F(GadgetTest, ASecondLoadWhileBusyStartsNothing) {
    Start("seven");
    Sandbox->Fault({{"call", "GetMyeBayBuying"}, {"kind", "delay"}, {"ms", 800}});
    Gadget.LoadWatchlist();
    Gadget.LoadWatchlist();
    EXPECT_TRUE(Gadget.IsWorking());
    WaitIdle();
    EXPECT_EQ(WatchListRequests(), 1);
    EXPECT_EQ(ShownPage(Result()).Counters, Range(0, 4));
}

TEST_F(GadgetTest, TerminateStopsALoadInTimeAndARestartShowsTheSavedItemsAfterPaging) {
    Start("seven");
    Load();
    // Terminate stops a load that would take long and keeps the list the page showed.
    Sandbox->Fault({{"call", "GetMyeBayBuying"}, {"kind", "delay"}, {"ms", 30000}});
    Gadget.LoadWatchlist();
    const uint64_t started = MonotonicMs();
    Gadget.Terminate();
    EXPECT_LT(MonotonicMs() - started, 2000u) << "the transfer is aborted";
    EXPECT_EQ(Gadget.WatchList(), nullptr);
    TDetailsList saved;
    ASSERT_TRUE(saved.LoadFromFile(Dir.File("watchlist.dat")));
    EXPECT_EQ(saved.Count(), 7);
    const std::string lastResult = Result();
    const int requests = WatchListRequests();

    TKovaGadget restarted;
    restarted.Init(Dir.Home());
    EXPECT_EQ(restarted.HomeDirectory(), Dir.Home()) << "no second delimiter";
    EXPECT_EQ(Result(), lastResult) << "Init leaves the page alone";
    restarted.NextPage();
    const TShownPage page = ShownPage(Result());
    EXPECT_EQ(page.Counters, Range(5, 6));
    EXPECT_EQ(page.PageNumber, "2/2");
    EXPECT_EQ(WatchListRequests(), requests) << "a restart loads nothing by itself";
    restarted.Terminate();
}

TEST_F(GadgetTest, DetailsOfALoadedItem) {
    Start("demo");
    Load();
    Gadget.WatchList()->SaveLocalItems();
    TDetailsList items;
    ASSERT_TRUE(items.LoadFromFile(Dir.File("watchlist.dat")));
    // The demo account has auctions with a buy-it-now option and fixed-price offers.
    const TSearchResultAuctionDetails* auction = nullptr;
    const TSearchResultAuctionDetails* fixedPrice = nullptr;
    for (int i = 0; i < items.Count(); ++i) {
        const TSearchResultAuctionDetails& item = items.GetAuction(i);
        if (item.BuyNow && !fixedPrice) fixedPrice = &item;
        if (!item.BuyNow && item.PriceBuyNow > 0 && !auction) auction = &item;
    }
    ASSERT_NE(auction, nullptr);
    ASSERT_NE(fixedPrice, nullptr);

    std::string details;
    for (const auto* item : {auction, fixedPrice}) {
        SCOPED_TRACE(item->Description);
        ASSERT_TRUE(Gadget.BuildDetailsFileFor(item->ArticleNumber));
        details = ReadTextFile(Dir.File("details.html"));
        EXPECT_NE(details.find("<title>" + HtmlEscape(item->Description) + "</title>"), std::string::npos);
        EXPECT_NE(details.find(item->BuyNow ? "and buy on eBay" : "and bid on eBay"), std::string::npos);
        EXPECT_NE(details.find("<td>" + HtmlEscape(item->GetPriceText()) + "</td>"), std::string::npos);
        EXPECT_NE(item->GetBuyNowPriceText(), "-");
        EXPECT_NE(details.find("<td>" + HtmlEscape(item->GetBuyNowPriceText()) + "</td>"), std::string::npos);
        for (const char* name :
             {"%URL%", "%TITLE%", "%IMAGEURL%", "%PRICE%", "%BIDS%", "%PRICEBUYNOW%", "%SHIPPINGCOSTS%",
              "%HIGHBIDDER%", "%SELLER%", "%REMAININGTIME%", "%BIDORBUY%"})
            EXPECT_EQ(details.find(name), std::string::npos) << name << " left in the page's template";
        EXPECT_EQ(details.find("\n"), details.find("\r\n") + 1);
    }

    EXPECT_FALSE(Gadget.BuildDetailsFileFor("no-such-item"));
    EXPECT_EQ(ReadTextFile(Dir.File("details.html")), details);
}

TEST_F(GadgetTest, WithoutLoginDataTheDialogAsksAndASecondCallMeanwhileStartsNothing) {
    Gadget.Init(Dir.Home());
    TScriptedFormHost host;
    bool workingMeanwhile = false;
    host.Then([&](TForm&) {
        workingMeanwhile = Gadget.IsWorking();
        Gadget.LoadWatchlist(); // the page's timer firing while the dialog is open
    });
    Gadget.LoadWatchlist();
    EXPECT_EQ(host.Shown.size(), 1u) << "one dialog, and no second one from the nested call";
    EXPECT_TRUE(workingMeanwhile);
    EXPECT_FALSE(Gadget.IsWorking());
    EXPECT_EQ(WatchListRequests(), 0);

    // Login data without a token: the wizard asks; cancelled, nothing starts.
    Dir.SaveLogInData("seven", "secret", "");
    host.Then([](TForm& form) { EXPECT_EQ(form.Caption, "Authorise Gadget on eBay"); });
    Gadget.LoadWatchlist();
    EXPECT_FALSE(Gadget.IsWorking());
    EXPECT_EQ(WatchListRequests(), 0);
    EXPECT_EQ(Gadget.AuthErrorText(), "");
}

// Signs in on the sandbox's side with the wizard's id, as the user would in the browser, and verifies.
void SignInThroughTheWizard(TForm& form, TSandboxProcess& sandbox, const std::string& account) {
    auto& wizard = static_cast<TfrmKovaGadgetAuthorize&>(form);
    ASSERT_TRUE(wizard.Click("btnAuthorize"));
    ASSERT_TRUE(MainThreadQueue().RunUntil([&] { return wizard.pnlSecondStep.Visible; }, 30000));
    if (!account.empty()) sandbox.SignIn(account, wizard.FSecretID);
    ASSERT_TRUE(wizard.Click("btnVerify"));
    ASSERT_TRUE(MainThreadQueue().RunUntil([&] { return wizard.pnlFinished.Visible; }, 30000));
}

TEST_F(GadgetTest, ANewUserGoesThroughTheLoginDialogAndTheWizardToTheList) {
    Gadget.Init(Dir.Home());
    TScriptedFormHost host;
    host.Then([](TForm& form) {
        EXPECT_EQ(form.Caption, "My eBay - LogIn Data");
        form.SetText("edteBayUsername", "seven");
        form.SetText("edtEbayPassword", "secret");
        form.SelectItem("cmbxEbayLoginDataAction", 1);
        form.Click("btnOk");
    });
    bool workingMeanwhile = false;
    host.Then([&](TForm& form) {
        workingMeanwhile = Gadget.IsWorking();
        SignInThroughTheWizard(form, *Sandbox, "seven");
        EXPECT_TRUE(form.Click("btnCancel")); // "&Close" now
    });
    Load();
    EXPECT_TRUE(workingMeanwhile);
    EXPECT_EQ(ShownPage(Result()).Counters, Range(0, 4));
    EXPECT_EQ(ShownPage(Result()).PageNumber, "1/2");
    TEbayLogInInfo stored;
    ASSERT_TRUE(stored.CheckLogInData());
    EXPECT_EQ(stored.Token, Gadget.LogInInfo()->Token) << "kept with the saved login data";
    EXPECT_FALSE(stored.Token.empty());
}

TEST_F(GadgetTest, AFailedAuthorisationKeepsItsMessageForAuthErrorText) {
    Dir.SaveLogInData("seven", "secret", "");
    Gadget.Init(Dir.Home());
    TScriptedFormHost host;
    host.Then([](TForm& form) {
        Sandbox->Fault({{"call", "FetchToken"}, {"kind", "status"}, {"status", 503}});
        SignInThroughTheWizard(form, *Sandbox, "seven");
        EXPECT_TRUE(form.FindComponent("btnRetry")->Visible);
    });
    Load();
    EXPECT_EQ(Gadget.AuthErrorText(), TKovaWatchList::InternetStatusMessage(iyServiceUnavailable));
    EXPECT_FALSE(Gadget.AuthErrorText().empty());
    EXPECT_EQ(WatchListRequests(), 0);
}

TEST_F(GadgetTest, AnUnreadableLoginDataFileSaysSoAsksAgainAndIsReplaced) {
    Dir.SaveLogInData("seven", "secret", "token");
    const std::string whole = ReadTextFile(Dir.File("ebtmp.dat"));
    Dir.Dir().Write("ebtmp.dat", whole.substr(0, whole.size() / 2));
    Gadget.Init(Dir.Home());
    TScriptedFormHost host;
    host.Then([this](TForm& form) {
        EXPECT_NE(Result().find("The saved login data could not be read and will be asked for again."),
                  std::string::npos)
            << Result();
        form.SetText("edteBayUsername", "seven");
        form.SetText("edtEbayPassword", "secret");
        form.SelectItem("cmbxEbayLoginDataAction", 1);
        form.Click("btnOk");
    });
    host.Then([](TForm& form) { EXPECT_EQ(form.Caption, "Authorise Gadget on eBay"); });
    Load();
    TEbayLogInInfo stored;
    ASSERT_TRUE(stored.CheckLogInData()) << "the new login data replaced the damaged file";
    EXPECT_EQ(stored.UserName + "|" + stored.Password, "seven|secret");
}

TEST_F(GadgetTest, TheDamagedLoginDataMessageStandsUntilNewLoginDataAreSaved) {
    const std::string message = "The saved login data could not be read and will be asked for again.";
    Start("seven");
    Load(); // the login data are in memory now
    const std::string whole = ReadTextFile(Dir.File("ebtmp.dat"));
    const std::string damaged = whole.substr(0, whole.size() / 2);
    Dir.Dir().Write("ebtmp.dat", damaged);
    for (int load = 0; load < 2; ++load) {
        Load();
        EXPECT_NE(Result().find(message), std::string::npos) << "load " << load << ": " << Result();
        EXPECT_EQ(ShownPage(Result()).PageNumber, "1/2") << "the data in memory still load the list";
    }
    Gadget.NextPage();
    EXPECT_NE(Result().find(message), std::string::npos) << "paging keeps it";
    EXPECT_EQ(ReadTextFile(Dir.File("ebtmp.dat")), damaged) << "nothing but new login data replaces it";

    TScriptedFormHost host;
    host.Then([](TForm& form) {
        EXPECT_TRUE(form.SelectItem("cmbxEbayLoginDataAction", 1));
        EXPECT_TRUE(form.SetText("edteBayUsername", "seven"));
        EXPECT_TRUE(form.SetText("edtEbayPassword", "secret2"));
        EXPECT_TRUE(form.Click("btnOk"));
    });
    Gadget.ShowOptions();
    EXPECT_EQ(Result().find(message), std::string::npos) << Result();
    TEbayLogInInfo stored;
    ASSERT_TRUE(stored.CheckLogInData()) << "saving replaced the damaged file";
    EXPECT_EQ(stored.UserName + "|" + stored.Password, "seven|secret2");
    EXPECT_EQ(stored.Token, Gadget.LogInInfo()->Token) << "with the token of this session";
    Load();
    EXPECT_EQ(Result().find(message), std::string::npos);
}

TEST_F(GadgetTest, ShowOptionsRewritesTheResultAndAnotherUserNameRunsTheWizardAgain) {
    Start("seven");
    Load();
    TScriptedFormHost host;
    host.Then([](TForm& form) {
        EXPECT_EQ(form.Caption, "Settings Lumetra");
        form.Click("btnCancel");
    });
    std::remove(Dir.File("result.txt").c_str());
    Gadget.ShowOptions();
    EXPECT_EQ(Result(), "") << "Cancel writes nothing";

    host.Then([](TForm& form) {
        EXPECT_EQ(form.FindComponent("edteBayUsername")->Text, "seven");
        form.SetText("edteBayUsername", "demo");
        form.Click("chckbxMarkHighbidder");
        form.Click("btnOk");
    });
    Gadget.ShowOptions();
    EXPECT_EQ(ShownPage(Result()).Counters, Range(0, 4)) << "the page is written again at once";
    EXPECT_EQ(Gadget.WatchList()->UserName(), "demo");
    EXPECT_EQ(Gadget.LogInInfo()->Token, "");

    host.Then([](TForm& form) { EXPECT_EQ(form.Caption, "Authorise Gadget on eBay"); });
    Load();
    EXPECT_EQ(WatchListRequests(), 1) << "the old account's token is not used for the new one";
}

TEST_F(GadgetTest, PagingAndDetailsRaceALoadAndTerminate) {
    Start("demo");
    Load();
    for (int round = 0; round < 2; ++round) {
        Sandbox->Fault({{"call", "GetMyeBayBuying"}, {"kind", "delay"}, {"ms", 150}, {"times", 3}});
        Gadget.LoadWatchlist();
        while (Gadget.IsWorking()) {
            Gadget.NextPage();
            Gadget.LastPage();
            Gadget.PrevPage();
            Gadget.BuildDetailsFileFor("x");
            Gadget.WatchList()->WriteResultFile("");
            MainThreadQueue().ProcessPending();
        }
        EXPECT_EQ(ShownPage(Result()).Counters.size(), 5u);
    }
    Gadget.LoadWatchlist();
    Gadget.NextPage();
    Gadget.Terminate();
    TDetailsList saved;
    ASSERT_TRUE(saved.LoadFromFile(Dir.File("watchlist.dat")));
    EXPECT_EQ(saved.Count(), 250);
}

TEST(GadgetDispatchTest, CallsMembersByNameOrDispIdAndChecksTheirArguments) {
    SetMainThread();
    TGadgetTestDirectory dir{TGadgetDirectoryOptions{}};
    TKovaGadget gadget;
    TKovaGadgetDispatch dispatch(gadget);
    using K = TDispKind;

    TKovaDispResult r = dispatch.Invoke("IsWorking", K::PropertyGet, {});
    EXPECT_FALSE(r.Succeeded);
    EXPECT_NE(r.ErrorMessage.find("call Init first"), std::string::npos) << r.ErrorMessage;

    r = dispatch.Invoke(217, K::Method, {});
    EXPECT_EQ(r.ErrorMessage, "IKovaGadget.Init (method) takes 1 argument(s), 0 given");
    r = dispatch.Invoke("init", K::Method, {TKovaVariant{5}});
    EXPECT_EQ(r.ErrorMessage,
              "IKovaGadget.Init (method): argument 1 (iGadgetPath) must be BSTR (string), not int");
    ASSERT_TRUE(dispatch.Invoke(217, K::Method, {TKovaVariant{dir.Dir().Path()}}).Succeeded);

    EXPECT_EQ(dispatch.Invoke("RefreshIntervalInMinutes", K::PropertyGet, {}).Value, TKovaVariant{0});
    EXPECT_EQ(dispatch.Invoke(228, K::PropertyGet, {}).Value, TKovaVariant{true});
    EXPECT_EQ(dispatch.Invoke("RefreshAuctionsAutomatically", K::PropertyGet, {}).Value, TKovaVariant{false});
    EXPECT_EQ(dispatch.Invoke("LinkDownloadPage", K::PropertyGet, {}).Value,
              TKovaVariant{std::string("https://download.example/kova")});
    EXPECT_EQ(dispatch.Invoke("IsWorking", K::PropertyGet, {}).Value, TKovaVariant{false});

    EXPECT_TRUE(dispatch.Invoke("UNDOCKED", K::PropertyPut, {TKovaVariant{true}}).Succeeded);
    EXPECT_EQ(dispatch.Invoke(218, K::PropertyGet, {}).Value, TKovaVariant{true});
    EXPECT_FALSE(dispatch.Invoke(226, K::PropertyPut, {TKovaVariant{1}}).Succeeded)
        << "booleans are not ints";

    r = dispatch.Invoke("BuildDetailsFileFor", K::Method, {TKovaVariant{std::string("1")}});
    EXPECT_TRUE(r.Succeeded);
    EXPECT_EQ(r.Value, TKovaVariant{false});
    r = dispatch.Invoke(231, K::Method, {TKovaVariant{std::string("1")}, TKovaVariant{}});
    EXPECT_FALSE(r.Succeeded);

    r = dispatch.Invoke("ShowOptions", K::Method, {});
    EXPECT_TRUE(r.Succeeded) << r.ErrorMessage << ": without a form host the dialog closes with Cancel";
    EXPECT_EQ(dispatch.Invoke("Reload", K::Method, {}).ErrorMessage,
              "IKovaGadget has no method member \"Reload\"");
    EXPECT_EQ(dispatch.Invoke(232, K::PropertyPut, {TKovaVariant{true}}).ErrorMessage,
              "IKovaGadget has no propput member DISPID 232");

    // Stock window properties keep their values; enumerations stay in range.
    EXPECT_EQ(dispatch.Invoke(-514, K::PropertyGet, {}).Value, TKovaVariant{true});
    EXPECT_TRUE(dispatch.Invoke("Caption", K::PropertyPut, {TKovaVariant{std::string("Kova")}}).Succeeded);
    EXPECT_EQ(dispatch.Invoke(-518, K::PropertyGet, {}).Value, TKovaVariant{std::string("Kova")});
    EXPECT_FALSE(dispatch.Invoke("AxBorderStyle", K::PropertyPut, {TKovaVariant{4}}).Succeeded);
    EXPECT_TRUE(dispatch.Invoke("AxBorderStyle", K::PropertyPut, {TKovaVariant{3}}).Succeeded);
    EXPECT_EQ(dispatch.Invoke(204, K::PropertyGet, {}).Value, TKovaVariant{3});
    EXPECT_FALSE(dispatch.Invoke("Font", K::PropertyGet, {}).Succeeded);

    EXPECT_TRUE(dispatch.Invoke("Terminate", K::Method, {}).Succeeded);
    EXPECT_FALSE(dispatch.Invoke("NextPage", K::Method, {}).Succeeded) << "nothing works after Terminate";
}

// Every way "KovaDat.dat" can be unreadable: Init still succeeds, and each call after it names the file, why
// it could not be read and where to read what to do.
TEST(GadgetInitTest, AnUnreadableApplicationDataFileIsNamedByEveryCallAfterInit) {
    SetMainThread();
    const std::string xml =
        "<KovaDat><COMMON><LINKDOWNLOADPAGE>https://d.example</LINKDOWNLOADPAGE></COMMON></KovaDat>";
    const std::string packed = PackKovaDat(xml);
    struct TCase {
        const char* What;
        std::function<void(const TTempDir&)> Lay;
        std::string Reason;
    };
    const TCase cases[] = {
        {"missing", [](const TTempDir&) {}, "there is no such file"},
        {"truncated",
         [&](const TTempDir& dir) { dir.Write("KovaDat.dat", packed.substr(0, packed.size() / 2)); },
         "it is damaged"},
        {"another key",
         [&](const TTempDir& dir) { dir.Write("KovaDat.dat", PackKovaDat(xml, "{another pass phrase}")); },
         "it is damaged or was packed with another key"},
        {"not XML inside", [&](const TTempDir& dir) { dir.Write("KovaDat.dat", PackKovaDat("no xml <")); },
         "it is damaged ("},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        TTempDir dir;
        c.Lay(dir);
        TKovaGadget gadget;
        TKovaGadgetDispatch dispatch(gadget);
        EXPECT_TRUE(dispatch.Invoke("Init", TDispKind::Method, {TKovaVariant{dir.Path()}}).Succeeded);
        for (const char* member : {"RefreshAuctionsAtStart", "IsWorking", "LinkDownloadPage"}) {
            const TKovaDispResult r = dispatch.Invoke(member, TDispKind::PropertyGet, {});
            EXPECT_FALSE(r.Succeeded) << member;
            EXPECT_EQ(r.ErrorMessage.rfind("The application data file \"" + dir.File("KovaDat.dat") +
                                               "\" could not be read: " + c.Reason,
                                           0),
                      0u)
                << r.ErrorMessage;
            EXPECT_NE(r.ErrorMessage.find("README section \"The application data file\""), std::string::npos);
        }
        EXPECT_FALSE(dispatch.Invoke("LoadWatchlist", TDispKind::Method, {}).Succeeded);
        EXPECT_TRUE(dispatch.Invoke("Terminate", TDispKind::Method, {}).Succeeded);
        // A readable file on the next start lets every call work again.
        dir.Write("KovaDat.dat", packed);
        gadget.Init(dir.Path());
        EXPECT_EQ(dispatch.Invoke("LinkDownloadPage", TDispKind::PropertyGet, {}).Value,
                  TKovaVariant{std::string("https://d.example")});
        gadget.Terminate();
    }
}

TEST(GadgetInitTest, WithoutApplicationDataInitSucceedsAndLaterCallsFail) {
    SetMainThread();
    TTempDir dir;
    TKovaGadget gadget;
    TKovaGadgetDispatch dispatch(gadget);
    EXPECT_TRUE(dispatch.Invoke("Init", TDispKind::Method, {TKovaVariant{dir.Path() + "/"}}).Succeeded);
    EXPECT_FALSE(dispatch.Invoke("LoadWatchlist", TDispKind::Method, {}).Succeeded);
    EXPECT_FALSE(dispatch.Invoke("LinkDownloadPage", TDispKind::PropertyGet, {}).Succeeded);
    EXPECT_TRUE(dispatch.Invoke("Terminate", TDispKind::Method, {}).Succeeded);
}

} // namespace
