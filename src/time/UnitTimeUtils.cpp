#include "time/UnitTimeUtils.h"

#include "base/UnitExceptions.h"
#include "base/UnitUtils.h"
#include "platform/UnitPlatformClock.h"
#include "platform/UnitPlatformSntp.h"
#include "support/UnitLogging.h"

#include <algorithm>
#include <cmath>
#include <memory>

const char* const TimeRequestZoneName = "W. Europe Standard Time";
// time.cloudflare.com, an anycast address.
const char* const DefaultSntpServer = "162.159.200.123";

namespace {

const char* const SServerShortDateFormat = "mm-dd-yyyy";
const char* const SServerLongTimeFormat = "hh:nn:ss";

// 0.1 ms in days: a moment this close to a transition counts as at it.
constexpr double TransitionTolerance = 1.0 / 864000000.0;
// Date-times of 01.01.0001 and 31.12.9999: outside them there is no calendar year to take rules from.
constexpr double FirstCalendarDay = -693593.0;
constexpr double LastCalendarDay = 2958465.0;

std::mutex GObjectsLock;
std::unique_ptr<TExactTime> GExactTime;
std::unique_ptr<TTimeZoneUtils> GTimeZoneUtils;

std::mutex GProxyLock;
std::unique_ptr<TProxySettings> GProxySettings;

std::mutex GFetcherLock;
TTimeRequestFetcher GFetcher;

// 0.01 ms in days: far above the rounding error of a day count near today, far below the tolerance.
constexpr double RoundingAllowance = 1.0 / 8640000000.0;

// t in [a, b): not earlier than a (within the tolerance) and earlier than b. The same moment reached by
// other arithmetic may lie a rounding error below b; it counts as b, not as earlier.
bool InPeriod(TDateTime t, TDateTime a, TDateTime b) {
    return t > a - TransitionTolerance && t < b - RoundingAllowance;
}

bool HasCalendarYear(TDateTime t) {
    return t >= FirstCalendarDay && t < LastCalendarDay + 1;
}

int YearOf(TDateTime t) {
    int y, m, d;
    DecodeDate(t, y, m, d);
    return y;
}

TDateTime ListedMoment(const TListedTransition& transition) {
    return UnixDateDelta + static_cast<double>(transition.At) / SecsPerDay;
}

// Whether the zone's listed transitions decide the UTC moment: it lies before the last of them.
bool ListedDecides(const TTimeZoneInformation& zone, TDateTime utc) {
    return !zone.Listed.empty() && utc < ListedMoment(zone.Listed.back()) - RoundingAllowance;
}

// The listed offset in effect at a UTC moment before the last listed transition; a moment within the
// tolerance before a transition counts as at it, as with rules.
const TListedTransition* ListedAt(const TTimeZoneInformation& zone, TDateTime utc) {
    const auto after = std::partition_point(zone.Listed.begin(), zone.Listed.end(), [utc](const auto& t) {
        return ListedMoment(t) - TransitionTolerance < utc;
    });
    return after == zone.Listed.begin() ? nullptr : &*(after - 1);
}

// Local time for a UTC moment from the listed transitions.
TDateTime ListedUTCToLocal(const TTimeZoneInformation& zone, TDateTime utc) {
    const TListedTransition* at = ListedAt(zone, utc);
    return utc + (at ? at->UtOffset : zone.FirstUtOffset) / SecsPerDay;
}

// Local time for a UTC moment from the zone's rule, given the rule's transitions of the moment's year.
TDateTime RuleUTCToLocal(const TTimeZoneInformation& zone, const TZoneTransitions& transitions,
                         TDateTime utc) {
    if (!transitions.HasDaylightSaving()) return utc - zone.Bias / MinsPerDay;
    const double standardOffset = (zone.Bias + zone.StandardBias) / MinsPerDay;
    const double daylightOffset = (zone.Bias + zone.DaylightBias) / MinsPerDay;
    const TDateTime daylightStart = transitions.DaylightStart + standardOffset;
    const TDateTime daylightEnd = transitions.StandardStart + daylightOffset;
    if (daylightStart < daylightEnd)
        return InPeriod(utc, daylightStart, daylightEnd) ? utc - daylightOffset : utc - standardOffset;
    return InPeriod(utc, daylightEnd, daylightStart) ? utc - standardOffset : utc - daylightOffset;
}

struct TLocalReading {
    TDateTime Local;
    bool Daylight;
};

TLocalReading ZoneLocal(const TTimeZoneInformation& zone, TDateTime utc) {
    if (ListedDecides(zone, utc)) {
        const TListedTransition* at = ListedAt(zone, utc);
        return {ListedUTCToLocal(zone, utc), at ? at->IsDaylight : zone.FirstIsDaylight};
    }
    const TDateTime local = HasCalendarYear(utc)
                                ? RuleUTCToLocal(zone, GetTransitions(zone, YearOf(utc)), utc)
                                : utc - zone.Bias / MinsPerDay;
    const double offsetMinutes = std::round((local - utc) * MinsPerDay);
    return {local, zone.DaylightDate.wMonth != 0 && offsetMinutes == -(zone.Bias + zone.DaylightBias)};
}

// Every offset the zone has within a day of the local time is tried; a time no offset reads back to is
// skipped (0), one that two read back to is repeated and counts as daylight time, else the earlier.
TDateTime ListedZoneTimeToUTC(const TTimeZoneInformation& zone, TDateTime t) {
    bool found = false;
    TDateTime best = 0;
    bool bestDaylight = false;
    // Offsets span less than a day, so the offsets a day either side are all the local time can have.
    for (const TDateTime probe : {t - 1, t + 1}) {
        const TDateTime utc = t - (ZoneLocal(zone, probe).Local - probe);
        const TLocalReading back = ZoneLocal(zone, utc);
        if (std::fabs(back.Local - t) > RoundingAllowance) continue;
        if (!found || (back.Daylight && !bestDaylight) || (back.Daylight == bestDaylight && utc < best)) {
            best = utc;
            bestDaylight = back.Daylight;
        }
        found = true;
    }
    return found ? best : 0;
}

// Logs a reason once, not again on every change check that finds the same damaged zone data.
TTimeZoneInformation ReadComputerZone(std::string& lastWarning) {
    std::string warning;
    TTimeZoneInformation zone = GetTimeZoneInformation(warning);
    if (!warning.empty() && warning != lastWarning) Log(warning, lmkWarning);
    lastWarning = warning;
    return zone;
}

TProxySettings CopyTimeModuleProxySettings() {
    TProxySettings settings;
    std::lock_guard lock(GProxyLock);
    settings.Assign(GProxySettings.get());
    return settings;
}

} // namespace

void SetTimeRequestFetcher(TTimeRequestFetcher fetcher) {
    std::lock_guard lock(GFetcherLock);
    GFetcher = std::move(fetcher);
}

void SetTimeModuleProxySettings(const TProxySettings* settings) {
    std::lock_guard lock(GProxyLock);
    if (!settings) {
        GProxySettings.reset();
        return;
    }
    if (!GProxySettings) GProxySettings = std::make_unique<TProxySettings>();
    GProxySettings->Assign(settings);
}

// TExactTime

TExactTime::TExactTime(std::string sntpServer1, std::string sntpServer2, std::string timeRequestURL)
    : FSntpServer1(std::move(sntpServer1)), FSntpServer2(std::move(sntpServer2)),
      FTimeRequestURL(std::move(timeRequestURL)) {
}

TDateTime TExactTime::ExactNow() const {
    const TDateTime now = Now();
    std::lock_guard lock(FLock);
    return FSynchronised ? FReferenceTime + (now - FClockAtReference) : now;
}

TDateTime TExactTime::ExactNowUTC() const {
    const TDateTime now = NowUTC();
    std::lock_guard lock(FLock);
    return FSynchronised ? now + (FReferenceTime - FClockAtReference) : now;
}

bool TExactTime::Synchronised() const {
    std::lock_guard lock(FLock);
    return FSynchronised;
}

void TExactTime::SetReference(TDateTime reference) {
    const TDateTime now = Now();
    std::lock_guard lock(FLock);
    FReferenceTime = reference;
    FClockAtReference = now;
    FSynchronised = true;
}

void TExactTime::SetClockError(double milliseconds) {
    SetReference(Now() - milliseconds / MSecsPerDay);
}

TDateTime TExactTime::QuerySntp(const std::string& server) {
    try {
        const TDateTime utc = SntpQueryUTC(server, SntpReceiveTimeoutMs);
        return utc > 0 ? GetTimeZoneUtils().UTCToLocal(utc) : 0;
    } catch (const std::exception& e) {
        LogException(e, "TExactTime.Synchronise");
        return 0;
    }
}

bool TExactTime::Synchronise() {
    const TProxySettings proxy = CopyTimeModuleProxySettings();
    if (proxy.UsesProxy && !Trim(FTimeRequestURL).empty()) {
        try {
            TTessarynTimeRequest request(FTimeRequestURL);
            const TDateTime t = request.RequestTime(&proxy);
            if (t <= 0) return false;
            SetReference(t);
            return true;
        } catch (const std::exception& e) {
            LogException(e, "TExactTime.Synchronise");
            return false;
        }
    }
    for (const std::string* server : {&FSntpServer1, &FSntpServer2}) {
        const TDateTime t = QuerySntp(*server);
        if (t > 0) {
            SetReference(t);
            return true;
        }
    }
    return false;
}

// TTessarynTimeRequest

TTessarynTimeRequest::TTessarynTimeRequest(std::string url) : FURL(std::move(url)) {
}

void TTessarynTimeRequest::GetServerFormatSettings(TFormatSettings& settings) const {
    settings = TFormatSettings{};
    settings.CurrencyFormat = 0;
    settings.NegCurrFormat = 0;
    settings.ThousandSeparator = '\0';
    settings.DecimalSeparator = '\0';
    settings.CurrencyDecimals = 0;
    settings.ListSeparator = '\0';
    settings.CurrencyString.clear();
    settings.LongDateFormat.clear();
    // The AM and PM texts stay: the date reader takes an empty one as present, turning 12:00 into 0:00
    // and refusing every afternoon time.
    settings.ShortTimeFormat.clear();
    for (auto& name : settings.ShortMonthNames)
        name.clear();
    for (auto& name : settings.LongMonthNames)
        name.clear();
    for (auto& name : settings.ShortDayNames)
        name.clear();
    for (auto& name : settings.LongDayNames)
        name.clear();
    settings.TwoDigitYearCenturyWindow = 0;
    settings.DateSeparator = '-';
    settings.TimeSeparator = ':';
    settings.ShortDateFormat = SServerShortDateFormat;
    settings.LongTimeFormat = SServerLongTimeFormat;
}

TDateTime TTessarynTimeRequest::ParseServerTime(const std::string& text) const {
    // A date alone or a bare number would pass as a time hours or a century away from now.
    const std::string trimmed = Trim(text);
    const size_t blank = trimmed.find(' ');
    if (blank == std::string::npos || blank == 0) return 0;
    TFormatSettings settings;
    GetServerFormatSettings(settings);
    TDateTime date, value;
    if (!TryStrToDateTime(trimmed.substr(0, blank), date, settings) || date < 1) return 0;
    if (!TryStrToDateTime(trimmed, value, settings) || value < 1) return 0;
    return value;
}

TDateTime TTessarynTimeRequest::GetServerTime() {
    return RequestTime(nullptr);
}

TDateTime TTessarynTimeRequest::RequestTime(const TProxySettings* proxy) {
    TTimeRequestFetcher fetcher;
    {
        std::lock_guard lock(GFetcherLock);
        fetcher = GFetcher;
    }
    FLastStatus = TimeRequestStatusUnknown;
    if (!fetcher) {
        Log("TTessarynTimeRequest.RequestTime: no transport for the time request", lmkWarning);
        return 0;
    }
    std::string text;
    fetcher(proxy, FURL, text, FLastStatus);
    if (FLastStatus >= 3) return 0;
    const TDateTime serverTime = ParseServerTime(text);
    if (serverTime == 0) return 0;
    TTimeZoneUtils& zones = GetTimeZoneUtils();
    const TDateTime utc = zones.ZoneTimeToUTC(TimeRequestZoneName, serverTime);
    // A time the endpoint's clock skips has no UTC moment.
    if (utc == 0) return 0;
    return zones.UTCToLocal(utc);
}

// Transitions

TDateTime TransitionDate(const TSystemTime& rule, int year) {
    if (rule.wMonth == 0) return 0;
    TDateTime date;
    if (rule.wYear == 0) {
        if (rule.wDay < 1 || rule.wDay > 5 || rule.wDayOfWeek < 0 || rule.wDayOfWeek > 6) return 0;
        if (!TryEncodeDate(year, rule.wMonth, 1, date)) return 0;
        // DayOfWeek counts from 1 = Sunday, the rule from 0 = Sunday.
        const int firstMatch = 1 + (rule.wDayOfWeek - (DayOfWeek(date) - 1) + 7) % 7;
        int day = firstMatch + 7 * (rule.wDay - 1);
        if (rule.wDay == 5) {
            day = firstMatch + 28;
            if (day > DaysInMonth(year, rule.wMonth)) day -= 7;
        }
        date += day - 1;
    } else if (rule.wYear == year) {
        if (!TryEncodeDate(year, rule.wMonth, rule.wDay, date)) return 0;
    } else {
        return 0;
    }
    return date + rule.wHour / HoursPerDay + rule.wMinute / MinsPerDay + rule.wSecond / SecsPerDay +
           rule.wMilliseconds / MSecsPerDay;
}

TZoneTransitions GetTransitions(const TTimeZoneInformation& zone, int year) {
    TZoneTransitions result;
    if (zone.StandardDate.wMonth == 0 || zone.DaylightDate.wMonth == 0) return result;
    result.DaylightStart = TransitionDate(zone.DaylightDate, year);
    result.StandardStart = TransitionDate(zone.StandardDate, year);
    return result;
}

// TTimeZoneUtils

TTimeZoneUtils::TTimeZoneUtils() : FZoneInformation(ReadComputerZone(FLastWarning)) {
}

TTimeZoneInformation TTimeZoneUtils::ZoneInformation() const {
    std::lock_guard lock(FLock);
    return FZoneInformation;
}

void TTimeZoneUtils::SetOnChange(TChangeHandler handler) {
    std::lock_guard lock(FLock);
    FOnChange = std::move(handler);
}

void TTimeZoneUtils::CheckForChange() {
    TChangeHandler handler;
    {
        std::lock_guard lock(FLock);
        // The 64-bit tick count: a 32-bit one wraps after 49.7 days and would stop the checks for good.
        const double ticks = static_cast<double>(GetTickCount64());
        if (!(ticks - ChangeCheckIntervalMs > FLastChangeCheck)) return;
        FLastChangeCheck = ticks;
        TTimeZoneInformation current = ReadComputerZone(FLastWarning);
        // The whole record is compared: zones of the tz database share standard names ("IST", "CST").
        if (current == FZoneInformation) return;
        FZoneInformation = std::move(current);
        FCachedYear = 0;
        handler = FOnChange;
    }
    // Outside the lock: the synchronisation converts its answer with this very object.
    GetExactTime().Synchronise();
    if (handler) handler(*this);
}

TDateTime TTimeZoneUtils::UTCToLocal(TDateTime utc) {
    CheckForChange();
    std::lock_guard lock(FLock);
    const TTimeZoneInformation& zone = FZoneInformation;
    if (ListedDecides(zone, utc)) return ListedUTCToLocal(zone, utc);
    if (!HasCalendarYear(utc)) return utc - zone.Bias / MinsPerDay;
    const int year = YearOf(utc);
    if (year != FCachedYear) {
        FCachedTransitions = GetTransitions(zone, year);
        FCachedYear = year;
    }
    return RuleUTCToLocal(zone, FCachedTransitions, utc);
}

TDateTime TTimeZoneUtils::ZoneTimeToUTC(const std::string& zoneName, TDateTime t) {
    CheckForChange();
    TTimeZoneInformation zone;
    std::string warning;
    if (!GetNamedTimeZoneInformation(zoneName, zone, warning))
        throw Exception("TimeZone " + zoneName + " not found in Registry");
    if (!warning.empty()) Log(warning, lmkWarning);
    // Within a day of the listed years, the local time is read back against the listed offsets.
    if (ListedDecides(zone, t - 1)) return ListedZoneTimeToUTC(zone, t);
    if (!HasCalendarYear(t)) return t + zone.Bias / MinsPerDay;
    const TZoneTransitions transitions = GetTransitions(zone, YearOf(t));
    if (!transitions.HasDaylightSaving()) return t + zone.Bias / MinsPerDay;
    const double standardOffset = (zone.Bias + zone.StandardBias) / MinsPerDay;
    const double daylightOffset = (zone.Bias + zone.DaylightBias) / MinsPerDay;
    const TDateTime d = transitions.DaylightStart;
    const TDateTime s = transitions.StandardStart;
    const double jump = standardOffset - daylightOffset;
    if (jump > 0 ? InPeriod(t, s - jump, s) : jump < 0 && InPeriod(t, d + jump, d)) return t + daylightOffset;
    if (jump > 0 ? InPeriod(t, d, d + jump) : jump < 0 && InPeriod(t, s, s - jump)) return 0;
    if (d < s) return InPeriod(t, d, s) ? t + daylightOffset : t + standardOffset;
    return InPeriod(t, s, d) ? t + standardOffset : t + daylightOffset;
}

// Module objects

TExactTime& GetExactTime() {
    std::lock_guard lock(GObjectsLock);
    if (!GExactTime) GExactTime = std::make_unique<TExactTime>(DefaultSntpServer, DefaultSntpServer, "");
    return *GExactTime;
}

TExactTime& CreateExactTime(const std::string& sntpServer1, const std::string& sntpServer2,
                            const std::string& url) {
    std::lock_guard lock(GObjectsLock);
    if (GExactTime) throw Exception("Object already exists");
    GExactTime = std::make_unique<TExactTime>(sntpServer1, sntpServer2, url);
    return *GExactTime;
}

TTimeZoneUtils& GetTimeZoneUtils() {
    std::lock_guard lock(GObjectsLock);
    if (!GTimeZoneUtils) GTimeZoneUtils = std::make_unique<TTimeZoneUtils>();
    return *GTimeZoneUtils;
}

TDateTime ExactNow() {
    return GetExactTime().ExactNow();
}

TDateTime ExactNowUTC() {
    return GetExactTime().ExactNowUTC();
}
