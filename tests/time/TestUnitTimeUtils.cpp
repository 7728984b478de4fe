// ctest-labels: threaded
#include "base/UnitExceptions.h"
#include "items/UnitSearchResult.h"
#include "support/KovaTestSupport.h"
#include "support/SntpResponder.h"
#include "support/TimeTestSupport.h"
#include "time/UnitAlternateFormatSettings.h"
#include "time/UnitTimeUtils.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>
#include <httplib.h>
#include <map>
#include <memory>
#include <optional>
#include <thread>

namespace {

// What the process-wide exact-time object hears from its servers: never the internet.
const TDateTime GlobalServerUtc = EncodeDateTime(2026, 12, 7, 6, 0, 0, 0);
const std::string BerlinRule = "CET-1CEST,M3.5.0,M10.5.0/3";

class TTimeEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        setenv("TZ", "Europe/Berlin", 1);
        tzset();
        FResponder = std::make_unique<TSntpResponder>(TSntpResponder::Always(GlobalServerUtc));
        CreateExactTime(FResponder->Address(), FResponder->Address(), "");
    }
    void TearDown() override { FResponder.reset(); }
    TSntpResponder& Responder() { return *FResponder; }

private:
    std::unique_ptr<TSntpResponder> FResponder;
};

TTimeEnvironment* const GEnvironment =
    static_cast<TTimeEnvironment*>(::testing::AddGlobalTestEnvironment(new TTimeEnvironment));

TDateTime At(int y, int m, int d, int h, int n = 0, int s = 0, int ms = 0) {
    return EncodeDateTime(y, m, d, h, n, s, ms);
}

std::string Text(TDateTime t) {
    return FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz", t, TFormatSettings{});
}

void ExpectSameMs(TDateTime expected, TDateTime actual, const std::string& what = "") {
    EXPECT_EQ(DateTimeToMSecs(expected), DateTimeToMSecs(actual))
        << what << ": expected " << Text(expected) << ", got " << Text(actual);
}

// Compares UTCToLocal with the C library for every hour of a year and the second before each; returns the
// number of instants compared.
int CompareWithCLibrary(const std::string& zone, int year) {
    TScopedTZ tz(zone);
    TTimeZoneUtils utils;
    tm first{};
    first.tm_year = year - 1900;
    first.tm_mday = 1;
    tm next = first;
    next.tm_year += 1;
    const time_t start = timegm(&first), end = timegm(&next);
    int compared = 0, differences = 0;
    for (time_t hour = start; hour < end; hour += 3600) {
        for (const time_t t : {hour - 1, hour}) {
            tm local{};
            localtime_r(&t, &local);
            const TDateTime expected = At(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                                          local.tm_hour, local.tm_min, local.tm_sec);
            const TDateTime actual = utils.UTCToLocal(UnixToDateTime(t));
            ++compared;
            if (DateTimeToMSecs(expected) != DateTimeToMSecs(actual) && ++differences <= 3)
                ADD_FAILURE() << zone << " at unix " << t << ": C library " << Text(expected) << ", ours "
                              << Text(actual);
        }
    }
    EXPECT_EQ(0, differences) << zone << " " << year;
    return compared;
}

TSystemTime Rule(int month, int day, int dayOfWeek, int hour, int year = 0) {
    TSystemTime r;
    r.wYear = year;
    r.wMonth = month;
    r.wDay = day;
    r.wDayOfWeek = dayOfWeek;
    r.wHour = hour;
    return r;
}

// A loopback HTTP endpoint and a fetcher over it, installed for the object's lifetime.
class TTimeEndpoint {
public:
    TTimeEndpoint() {
        FServer.Get(R"(/(\w+))", [](const httplib::Request& req, httplib::Response& res) {
            static const std::map<std::string, std::string> bodies = {{"/time", "12-07-2026 09:30:15\r\n"},
                                                                      {"/skipped", "03-29-2026 02:30:00"},
                                                                      {"/garbage", "soon"}};
            const auto body = bodies.find(req.path);
            if (body == bodies.end())
                res.status = 404;
            else
                res.set_content(body->second, "text/plain");
        });
        FPort = FServer.bind_to_any_port("127.0.0.1");
        FThread = std::thread([this] { FServer.listen_after_bind(); });
        SetTimeRequestFetcher([this](const TProxySettings* proxy, const std::string& url, std::string& text,
                                     TTimeRequestStatus& status) {
            ++FFetches;
            FSawProxy = proxy && proxy->UsesProxy && proxy->Server == "proxy.example" && proxy->Port == 3128;
            const size_t path = url.find('/', url.find("://") + 3);
            httplib::Client client(url.substr(0, path));
            const auto res = client.Get(url.substr(path).c_str());
            if (!res) {
                status = TimeRequestStatusUnknown;
                return;
            }
            status = res->status == 200 ? 0 : res->status == 404 ? 15 : TimeRequestStatusUnknown;
            if (status == 0) text = res->body;
        });
    }
    ~TTimeEndpoint() {
        SetTimeRequestFetcher({});
        FServer.stop();
        FThread.join();
    }
    std::string URL(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(FPort) + path;
    }
    int Fetches() const { return FFetches.load(); }
    bool SawProxy() const { return FSawProxy.load(); }

private:
    httplib::Server FServer;
    int FPort = 0;
    std::thread FThread;
    std::atomic<int> FFetches{0};
    std::atomic<bool> FSawProxy{false};
};

// Fills the time module's proxy slot for its lifetime.
class TScopedTimeProxy {
public:
    TScopedTimeProxy() {
        TProxySettings proxy;
        proxy.UsesProxy = true;
        proxy.Server = "proxy.example";
        proxy.Port = 3128;
        SetTimeModuleProxySettings(&proxy);
    }
    ~TScopedTimeProxy() { SetTimeModuleProxySettings(nullptr); }
};

} // namespace

TEST(TimeZoneUtils, UTCToLocalAgreesWithTheCLibraryHourByHour) {
    int compared = 0;
    for (const char* zone : {"Europe/Berlin", "America/New_York", "Australia/Sydney", "America/Sao_Paulo",
                             "Asia/Kolkata", "UTC"}) {
        for (int year : {2024, 2026})
            compared += CompareWithCLibrary(zone, year);
    }
    for (const char* zone : {"Europe/Berlin", "America/New_York"})
        compared += CompareWithCLibrary(zone, 2009);
    // Rules of 2026 with transitions outside the day, negative daylight saving and odd offsets.
    for (const char* zone : {"Europe/Dublin", "America/Nuuk", "Asia/Jerusalem", "America/Santiago",
                             "Pacific/Chatham", "Australia/Lord_Howe", "America/St_Johns"})
        compared += CompareWithCLibrary(zone, 2026);
    // Listed years that differ from the footer rule (a fixed +01 there, +00 in each Ramadan in the list).
    for (int year : {2026, 2027})
        compared += CompareWithCLibrary("Africa/Casablanca", year);
    std::printf("instants compared with localtime_r: %d\n", compared);
    EXPECT_EQ(2 * (6 * 8784 + 17 * 8760), compared);
}

TEST(TimeZoneUtils, CentralEuropeanRuleAndItsBoundaries) {
    TScopedTZ tz(BerlinRule);
    TTimeZoneUtils utils;
    const TTimeZoneInformation zone = utils.ZoneInformation();
    EXPECT_EQ(-60, zone.Bias);
    EXPECT_EQ(-60, zone.DaylightBias);
    EXPECT_EQ(Rule(3, 5, 0, 2), zone.DaylightDate);
    EXPECT_EQ(Rule(10, 5, 0, 3), zone.StandardDate);

    ExpectSameMs(At(2009, 7, 1, 14), utils.UTCToLocal(At(2009, 7, 1, 12)), "summer");
    ExpectSameMs(At(2009, 1, 15, 13), utils.UTCToLocal(At(2009, 1, 15, 12)), "winter");

    // Daylight saving starts 2026-03-29 01:00 UTC and ends 2026-10-25 01:00 UTC.
    const TDateTime start = At(2026, 3, 29, 1), end = At(2026, 10, 25, 1);
    const double ms = 1 / MSecsPerDay;
    EXPECT_NEAR(start + 2.0 / 24 - 0.05 * ms, utils.UTCToLocal(start - 0.05 * ms), 0.01 * ms);
    EXPECT_NEAR(start + 1.0 / 24 - 0.2 * ms, utils.UTCToLocal(start - 0.2 * ms), 0.01 * ms);
    ExpectSameMs(At(2026, 3, 29, 3), utils.UTCToLocal(start), "daylight start");
    EXPECT_NEAR(end + 2.0 / 24 - 0.05 * ms, utils.UTCToLocal(end - 0.05 * ms), 0.01 * ms);
    ExpectSameMs(At(2026, 10, 25, 2), utils.UTCToLocal(end), "daylight end");
}

TEST(TimeZoneUtils, TransitionDatesOfWeekdayAndAbsoluteRules) {
    // March 2024 and October 2021 end on a Sunday: the last Sunday is the last day.
    ExpectSameMs(At(2024, 3, 31, 2), TransitionDate(Rule(3, 5, 0, 2), 2024), "last Sunday, March 2024");
    ExpectSameMs(At(2021, 10, 31, 3), TransitionDate(Rule(10, 5, 0, 3), 2021), "last Sunday, October 2021");
    ExpectSameMs(At(2026, 3, 28, 23), TransitionDate(Rule(3, 5, 0, -1), 2026), "last Sunday at -1:00");
    ExpectSameMs(At(2026, 4, 12, 3), TransitionDate(Rule(4, 12, 0, 3, 2026), 2026), "absolute date");
    EXPECT_EQ(0, TransitionDate(Rule(4, 12, 0, 3, 2026), 2025));
    EXPECT_EQ(0, TransitionDate(Rule(3, 6, 0, 2), 2026));
}

TEST(TimeZoneUtils, ZoneTimeToUTCInSkippedAndRepeatedHours) {
    TTimeZoneUtils& utils = GetTimeZoneUtils();
    const std::string europe = "W. Europe Standard Time", sydney = "AUS Eastern Standard Time";
    struct TCase {
        const std::string& Zone;
        TDateTime Local, Utc;
        const char* What;
    };
    for (const TCase& c : {
             TCase{europe, At(2026, 7, 1, 12), At(2026, 7, 1, 10), "summer"},
             TCase{europe, At(2026, 3, 29, 1, 59, 59), At(2026, 3, 29, 0, 59, 59), "before the skipped hour"},
             TCase{europe, At(2026, 3, 29, 2, 30), 0, "inside the skipped hour"},
             TCase{europe, At(2026, 3, 29, 3), At(2026, 3, 29, 1), "after the skipped hour"},
             TCase{europe, At(2026, 10, 25, 2, 30), At(2026, 10, 25, 0, 30),
                   "repeated hour, read as daylight"},
             TCase{europe, At(2026, 10, 25, 3), At(2026, 10, 25, 2), "after the repeated hour"},
             TCase{sydney, At(2026, 10, 4, 2, 30), 0, "southern skipped hour"},
             TCase{sydney, At(2026, 4, 5, 2, 30), At(2026, 4, 4, 15, 30), "southern repeated hour"},
             TCase{sydney, At(2026, 12, 24, 12), At(2026, 12, 24, 1), "southern summer"},
         }) {
        const TDateTime utc = utils.ZoneTimeToUTC(c.Zone, c.Local);
        if (c.Utc == 0)
            EXPECT_EQ(0, utc) << c.What << ": " << Text(utc);
        else
            ExpectSameMs(c.Utc, utc, c.What);
    }
    try {
        utils.ZoneTimeToUTC("Atlantis Standard Time", At(2026, 1, 1, 0));
        FAIL() << "no error for an unknown zone";
    } catch (const Exception& e) {
        EXPECT_STREQ("TimeZone Atlantis Standard Time not found in Registry", e.what());
    }
}

TEST(TimeZoneUtils, ListedYearsOverruleTheFooterRuleWhichHoldsOnlyBeyondThem) {
    // Casablanca's footer says +01 all year; its data list +00 from 2027-02-07 02:00 UTC to 2027-03-14
    // 02:00 UTC, and such periods every year up to 2087.
    TScopedTZ tz("Africa/Casablanca");
    TTimeZoneUtils utils;
    const TTimeZoneInformation zone = utils.ZoneInformation();
    ASSERT_EQ(-60, zone.Bias);
    ASSERT_EQ(0, zone.DaylightDate.wMonth);
    struct TCase {
        TDateTime Utc, Local;
        const char* What;
    };
    for (const TCase& c : {
             TCase{At(2027, 2, 7, 1, 59, 59), At(2027, 2, 7, 2, 59, 59), "before the listed change"},
             TCase{At(2027, 2, 7, 2), At(2027, 2, 7, 2), "at the listed change"},
             TCase{At(2027, 2, 20, 12), At(2027, 2, 20, 12), "inside the listed period"},
             TCase{At(2027, 3, 14, 1, 59, 59), At(2027, 3, 14, 1, 59, 59), "end of the listed period"},
             TCase{At(2027, 3, 14, 2), At(2027, 3, 14, 3), "after the listed period"},
             TCase{At(2027, 7, 1, 12), At(2027, 7, 1, 13), "summer"},
             TCase{At(2100, 7, 1, 12), At(2100, 7, 1, 13), "beyond the listed years: the footer"},
             TCase{At(1900, 7, 1, 12), At(1900, 7, 1, 11, 29, 40),
                   "before the first transition: local mean time"},
         })
        ExpectSameMs(c.Local, utils.UTCToLocal(c.Utc), c.What);

    // The named zone of the same data, read back: a skipped hour gives 0, a repeated one daylight time.
    const std::string morocco = "Morocco Standard Time";
    struct TBack {
        TDateTime Local, Utc;
        const char* What;
    };
    for (const TBack& c : {
             TBack{At(2027, 2, 20, 12), At(2027, 2, 20, 12), "inside the listed period"},
             TBack{At(2027, 7, 1, 13), At(2027, 7, 1, 12), "summer"},
             TBack{At(2027, 3, 14, 2, 30), 0, "skipped at the end of the period"},
             TBack{At(2027, 2, 7, 2, 30), At(2027, 2, 7, 2, 30),
                   "repeated, read as the listed daylight time"},
             TBack{At(2027, 2, 7, 1, 30), At(2027, 2, 7, 0, 30), "before the repeated hour"},
             TBack{At(2100, 7, 1, 13), At(2100, 7, 1, 12), "beyond the listed years"},
         }) {
        const TDateTime utc = utils.ZoneTimeToUTC(morocco, c.Local);
        if (c.Utc == 0)
            EXPECT_EQ(0, utc) << c.What << ": " << Text(utc);
        else
            ExpectSameMs(c.Utc, utc, c.What);
    }
}

TEST(TimeZoneUtils, AZoneChangeIsNoticedAfterFiveSecondsAndSynchronises) {
    TScopedTZ berlin("Europe/Berlin");
    TManualClock clock(At(2026, 12, 7, 9), At(2026, 12, 7, 8));
    TTimeZoneUtils utils;
    int changes = 0;
    utils.SetOnChange([&changes](TTimeZoneUtils&) { ++changes; });
    const TDateTime noon = At(2026, 12, 7, 12);
    const int requestsBefore = GEnvironment->Responder().Requests();

    TScopedTZ newYork("America/New_York");
    clock.AdvanceMs(4000);
    ExpectSameMs(At(2026, 12, 7, 13), utils.UTCToLocal(noon), "within five seconds");
    EXPECT_EQ(0, changes);
    clock.AdvanceMs(1001);
    ExpectSameMs(At(2026, 12, 7, 7), utils.UTCToLocal(noon), "after the check");
    EXPECT_EQ(1, changes);
    EXPECT_EQ(requestsBefore + 1, GEnvironment->Responder().Requests());
    EXPECT_TRUE(GetExactTime().Synchronised());

    clock.AdvanceMs(6000);
    utils.UTCToLocal(noon);
    EXPECT_EQ(1, changes);
}

TEST(RemainingTime, AnHourLeftIsAnHourAcrossBothClockChanges) {
    const TDateTime hour = 1 / HoursPerDay, minute = 1 / MinsPerDay;
    {
        // A synchronisation that finds the clock right leaves no correction from earlier tests.
        TManualClock clock(At(2026, 12, 7, 7), GlobalServerUtc);
        ASSERT_TRUE(GetExactTime().Synchronise());
    }
    TTimeZoneUtils& zones = GetTimeZoneUtils();
    // Berlin's clocks go forward at 2026-03-29 01:00 UTC and back at 2026-10-25 01:00 UTC.
    struct TCase {
        TDateTime NowUtc, Left;
        const char* Text;
        bool Crosses; // a clock change lies between now and the end
    };
    for (const TCase& c : {
             TCase{At(2026, 3, 29, 0, 30), hour, "1 h 0 min", true},
             TCase{At(2026, 3, 29, 0, 1), 59 * minute, "59 m 0 s", true},
             TCase{At(2026, 3, 29, 1), hour, "1 h 0 min", false},
             TCase{At(2026, 10, 25, 0, 30), hour, "1 h 0 min", true},
             TCase{At(2026, 10, 25, 0, 59, 59), hour, "1 h 0 min", true},
             TCase{At(2026, 10, 25, 1), hour, "1 h 0 min", false},
             TCase{At(2026, 10, 24, 1, 30), 23 * hour + 59 * minute, "23 h 59 min", true},
             TCase{At(2026, 10, 24, 1, 30), 24 * hour + minute, "over 1 day(s)", true},
         }) {
        TManualClock clock(zones.UTCToLocal(c.NowUtc), c.NowUtc);
        TSearchResultAuctionDetails item;
        item.EndTime = c.NowUtc + c.Left;
        EXPECT_EQ(item.GetRemainingTimeText(true), c.Text) << Text(c.NowUtc);
        const int64_t localDifference =
            DateTimeToMSecs(zones.UTCToLocal(item.EndTime)) - DateTimeToMSecs(zones.UTCToLocal(c.NowUtc));
        EXPECT_EQ(localDifference != DateTimeToMSecs(c.Left), c.Crosses)
            << "local clock readings differ by an hour more or less across a change: " << Text(c.NowUtc);
    }
}

TEST(ExactTime, TheProcessWideObjectExistsOnce) {
    TExactTime& exact = GetExactTime();
    EXPECT_EQ(GEnvironment->Responder().Address(), exact.SntpServer1());
    try {
        CreateExactTime("127.0.0.1", "127.0.0.1", "");
        FAIL() << "a second object was created";
    } catch (const Exception& e) {
        EXPECT_STREQ("Object already exists", e.what());
    }
    EXPECT_EQ(&exact, &GetExactTime());
    EXPECT_EQ(&GetTimeZoneUtils(), &GetTimeZoneUtils());
}

TEST(ExactTime, SynchronisingWithSntpSetsTheReferenceAndAFailureKeepsIt) {
    TManualClock clock(At(2026, 12, 7, 9), At(2026, 12, 7, 8));
    const TDateTime serverUtc = At(2026, 12, 7, 8, 1, 30, 250);
    auto server = std::make_unique<TSntpResponder>(TSntpResponder::Always(serverUtc));
    TExactTime exact(server->Address(), RefusedSntpAddress(), "");
    ExpectSameMs(At(2026, 12, 7, 9), exact.ExactNow(), "before any synchronisation");
    EXPECT_FALSE(exact.Synchronised());

    ASSERT_TRUE(exact.Synchronise());
    ExpectSameMs(At(2026, 12, 7, 9, 1, 30, 250), exact.ExactNow(), "server time as Berlin time");
    clock.AdvanceMs(1500);
    ExpectSameMs(At(2026, 12, 7, 9, 1, 31, 750), exact.ExactNow(), "the local clock runs on");
    ExpectSameMs(At(2026, 12, 7, 8, 1, 31, 750), exact.ExactNowUTC(), "the same correction in UTC");

    server.reset();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(exact.Synchronise());
    EXPECT_LT(ElapsedMs(start), 2000);
    EXPECT_TRUE(exact.Synchronised());
    ExpectSameMs(At(2026, 12, 7, 9, 1, 31, 750), exact.ExactNow(), "after a failed synchronisation");
}

TEST(ExactTime, ASilentFirstServerTimesOutAndTheSecondIsAsked) {
    TManualClock clock(At(2026, 12, 7, 9), At(2026, 12, 7, 8));
    TSntpResponder silent(TSntpResponder::Silent());
    TSntpResponder good(TSntpResponder::Always(At(2026, 12, 7, 8, 0, 5)));
    TExactTime exact(silent.Address(), good.Address(), "");
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(exact.Synchronise());
    const int64_t waited = ElapsedMs(start);
    EXPECT_GE(waited, 3950);
    EXPECT_LT(waited, 6000);
    EXPECT_EQ(1, silent.Requests());
    EXPECT_EQ(1, good.Requests());
    ExpectSameMs(At(2026, 12, 7, 9, 0, 5), exact.ExactNow());
}

TEST(ExactTime, TheTimeRequestIsUsedBehindAProxy) {
    TManualClock clock(At(2026, 12, 7, 9), At(2026, 12, 7, 8));
    TTimeEndpoint endpoint;
    const std::string refused = RefusedSntpAddress();
    {
        // Without a proxy in the slot the URL is not used.
        TExactTime exact(refused, refused, endpoint.URL("/time"));
        EXPECT_FALSE(exact.Synchronise());
        EXPECT_EQ(0, endpoint.Fetches());
    }
    TScopedTimeProxy proxy;
    TExactTime exact(refused, refused, endpoint.URL("/time"));
    ASSERT_TRUE(exact.Synchronise());
    EXPECT_TRUE(endpoint.SawProxy());
    ExpectSameMs(At(2026, 12, 7, 9, 30, 15), exact.ExactNow(), "endpoint time");

    for (const char* path : {"/skipped", "/garbage", "/missing"}) {
        TExactTime failing(refused, refused, endpoint.URL(path));
        EXPECT_FALSE(failing.Synchronise()) << path;
        EXPECT_FALSE(failing.Synchronised()) << path;
    }
    TTessarynTimeRequest missing(endpoint.URL("/missing"));
    EXPECT_EQ(0, missing.GetServerTime());
    EXPECT_EQ(15, missing.LastStatus());

    SetTimeRequestFetcher({});
    TExactTime noTransport(refused, refused, endpoint.URL("/time"));
    EXPECT_FALSE(noTransport.Synchronise());
}

TEST(ExactTime, ServerTimeTextNeedsDateAndTime) {
    TTessarynTimeRequest request("http://127.0.0.1/");
    ExpectSameMs(At(2026, 12, 7, 9, 30, 15), request.ParseServerTime("12-07-2026 09:30:15"));
    ExpectSameMs(At(2026, 1, 2, 3, 4, 5), request.ParseServerTime("  01-02-2026 03:04:05\r\n"));
    for (const char* text : {"", "5", "12-07-2026", "09:30:15", "13-01-2026 00:00:00", "12/07/2026 09:30:15",
                             "12-07-2026 25:00:00", "12-07-2026 09:30:15 extra"})
        EXPECT_EQ(0, request.ParseServerTime(text)) << text;
}

TEST(ExactTime, ConversionsAndExactNowMayRunOnSeveralThreads) {
    std::atomic<bool> stop{false};
    auto reader = [&stop] {
        double sum = 0;
        for (int k = 0; k < 20000 && !stop; ++k) {
            sum += GetTimeZoneUtils().UTCToLocal(At(2026, 1, 1, 0) + k / 24.0);
            sum += ExactNow();
        }
        return sum;
    };
    std::thread a(reader), b(reader);
    for (int k = 0; k < 5; ++k)
        EXPECT_TRUE(GetExactTime().Synchronise());
    stop = true;
    a.join();
    b.join();
}
