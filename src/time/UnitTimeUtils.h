#pragma once
// Exact time and time zones: the local clock corrected by a time server, and conversions between UTC, the
// computer's local time and the local time of a named zone.

#include "base/UnitDateTime.h"
#include "platform/UnitPlatformTimeZone.h"
#include "support/UnitFormatSettings.h"
#include "support/UnitProxySettings.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

// The outcome of a time-request fetch as the value of the transport's status enumeration (one byte);
// values below 3 are usable answers.
using TTimeRequestStatus = uint8_t;
constexpr TTimeRequestStatus TimeRequestStatusUnknown = 34;

// Fetches a URL with GET as text (the transport's GetURLText): the higher layer that owns the transport
// installs it. It must not raise; text stays as passed in when the fetch fails.
using TTimeRequestFetcher = std::function<void(const TProxySettings* proxy, const std::string& url,
                                               std::string& text, TTimeRequestStatus& status)>;
void SetTimeRequestFetcher(TTimeRequestFetcher fetcher);

// Fills the time module's proxy slot (nullptr empties it). The program itself leaves it empty.
void SetTimeModuleProxySettings(const TProxySettings* settings);

// The zone in which the time endpoint reports its time.
extern const char* const TimeRequestZoneName;
// The time server used for both SNTP slots unless others are given.
extern const char* const DefaultSntpServer;
constexpr uint32_t SntpReceiveTimeoutMs = 4000;

// The local clock, corrected by the last successful synchronisation with a time server.
class TExactTime {
public:
    // A server is an IPv4 address, optionally with ":port".
    TExactTime(std::string sntpServer1, std::string sntpServer2, std::string timeRequestURL);
    virtual ~TExactTime() = default;

    TDateTime ExactNow() const;
    // The same moment in UTC: the correction learned at the last synchronisation applied to the UTC clock,
    // so that differences to UTC times never pass through a local clock that jumps at a clock change.
    TDateTime ExactNowUTC() const;
    // Never raises; false keeps the previous reference.
    bool Synchronise();
    // Takes the clock as off by that much, as a synchronisation that found it so would: the host's test
    // seam for a computer whose clock is wrong.
    void SetClockError(double milliseconds);

    bool Synchronised() const;
    const std::string& SntpServer1() const { return FSntpServer1; }
    const std::string& SntpServer2() const { return FSntpServer2; }
    const std::string& TimeRequestURL() const { return FTimeRequestURL; }

private:
    TDateTime QuerySntp(const std::string& server);
    void SetReference(TDateTime reference);

    // ExactNow runs on whichever thread renders while a zone change may synchronise on another.
    mutable std::mutex FLock;
    bool FSynchronised = false;
    TDateTime FReferenceTime = 0;
    TDateTime FClockAtReference = 0;
    std::string FSntpServer1;
    std::string FSntpServer2;
    std::string FTimeRequestURL;
};

// Asks a web endpoint for the current time in the zone TimeRequestZoneName.
class TTessarynTimeRequest {
public:
    explicit TTessarynTimeRequest(std::string url);
    virtual ~TTessarynTimeRequest() = default;

    // "mm-dd-yyyy" and "hh:nn:ss" with "-" and ":"; every other setting empty but the AM and PM texts.
    virtual void GetServerFormatSettings(TFormatSettings& settings) const;
    // 0 when the text is not a date followed by a time.
    virtual TDateTime ParseServerTime(const std::string& text) const;
    virtual TDateTime GetServerTime();
    // The endpoint's time as local time, or 0. Raises when the endpoint's zone is unknown.
    virtual TDateTime RequestTime(const TProxySettings* proxy);

    TTimeRequestStatus LastStatus() const { return FLastStatus; }
    const std::string& URL() const { return FURL; }

private:
    TTimeRequestStatus FLastStatus = TimeRequestStatusUnknown;
    std::string FURL;
};

// Transition moments of a year as local clock readings; 0 when that rule does not apply.
struct TZoneTransitions {
    TDateTime DaylightStart = 0;
    TDateTime StandardStart = 0;
    bool HasDaylightSaving() const { return DaylightStart != 0 && StandardStart != 0; }
};

// The moment a rule gives in a year, or 0.
TDateTime TransitionDate(const TSystemTime& rule, int year);
TZoneTransitions GetTransitions(const TTimeZoneInformation& zone, int year);

// Converts between UTC and local times with the computer's zone, noticing when that zone changes.
class TTimeZoneUtils {
public:
    using TChangeHandler = std::function<void(TTimeZoneUtils& sender)>;
    static constexpr double ChangeCheckIntervalMs = 5000;

    TTimeZoneUtils();
    virtual ~TTimeZoneUtils() = default;

    TDateTime UTCToLocal(TDateTime utc);
    // Raises "TimeZone <name> not found in Registry" for a name outside the zone list. A local time that
    // the clock skips gives 0; one it shows twice counts as daylight time.
    TDateTime ZoneTimeToUTC(const std::string& zoneName, TDateTime zoneTime);

    TTimeZoneInformation ZoneInformation() const;
    void SetOnChange(TChangeHandler handler);

private:
    void CheckForChange();

    mutable std::mutex FLock;
    std::string FLastWarning;
    TTimeZoneInformation FZoneInformation;
    TChangeHandler FOnChange;
    double FLastChangeCheck = 0;
    // The transitions of the year converted last; most calls fall in the same year.
    int FCachedYear = 0;
    TZoneTransitions FCachedTransitions;
};

// The process-wide objects, created on first use and freed at process exit.
TExactTime& GetExactTime();
// Raises "Object already exists" when the exact-time object exists already.
TExactTime& CreateExactTime(const std::string& sntpServer1, const std::string& sntpServer2,
                            const std::string& url);
TTimeZoneUtils& GetTimeZoneUtils();

// The local time now, as exact as the time module knows it.
TDateTime ExactNow();
// The same in UTC.
TDateTime ExactNowUTC();
