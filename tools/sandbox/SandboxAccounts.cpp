#include "SandboxAccounts.h"

#include "SandboxPictures.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <set>

namespace {

// splitmix64: small, and the same sequence on every platform and library, unlike std's distributions.
class TSandboxRandom {
public:
    explicit TSandboxRandom(uint64_t seed) : FState(seed) {}
    uint64_t Next() {
        uint64_t z = (FState += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    int Below(int bound) { return static_cast<int>(Next() % static_cast<uint64_t>(bound)); }
    int Between(int low, int high) { return low + Below(high - low + 1); }
    template <typename T, size_t N> const T& Pick(const std::array<T, N>& values) {
        return values[static_cast<size_t>(Below(static_cast<int>(N)))];
    }

private:
    uint64_t FState;
};

uint64_t HashName(const std::string& name) {
    uint64_t hash = 0xCBF29CE484222325ULL; // FNV-1a
    for (unsigned char c : name)
        hash = (hash ^ c) * 0x100000001B3ULL;
    return hash;
}

struct TSite {
    const char* Code;
    const char* Currency;
    const char* Domain;
};

// Germany first: most demo listings are German. Several codes are the spellings of current answers
// ("Philippines", ISO currencies) rather than the older ones.
const std::array<TSite, 13> Sites{{
    {"Germany", "EUR", "www.ebay.de"},
    {"US", "USD", "www.ebay.com"},
    {"UK", "GBP", "www.ebay.co.uk"},
    {"Austria", "EUR", "www.ebay.at"},
    {"Switzerland", "CHF", "www.ebay.ch"},
    {"France", "EUR", "www.ebay.fr"},
    {"Australia", "AUD", "www.ebay.com.au"},
    {"Canada", "CAD", "www.ebay.ca"},
    {"Italy", "EUR", "www.ebay.it"},
    {"Philippines", "PHP", "www.ebay.ph"},
    {"HongKong", "HKD", "www.ebay.com.hk"},
    {"Poland", "PLN", "www.ebay.pl"},
    {"Netherlands", "EUR", "www.ebay.nl"},
}};

// The first four cover umlauts, "&", "<" and both quote characters, so that even small lists carry them.
const std::array<const char*, 16> TitleBases{{
    "Märklin H0 Dampflok BR 01 & Tender",
    "LEGO Technic 42083 <NEU> OVP",
    "Größe 42 \"Original\" Wanderschuhe Leder",
    "Zeiss Planar 50mm f/1.4 'Contax' Objektiv",
    "Schöne Tischlampe Messing & Glas, 50er Jahre",
    "Nintendo Game Boy Color – Spiel \"Pokémon Gold\"",
    "Bosch Akkuschrauber 18V <2 Akkus> & Koffer",
    "Übergangsjacke Damen Gr. M – wie neu",
    "Vintage Rolex Datejust 1601 Box & Papers",
    "Kaffeemühle Zassenhaus \"Brasilia\" Buche",
    "Fahrradträger für Anhängerkupplung 3 Räder",
    "Canon EOS 5D Mark II Body <Shutter 12k>",
    "Omas Porzellan Service 'Rosenthal' 12 Personen",
    "Märchenbuch Grimm 1925 Jugendstil Einband",
    "Apple MacBook Air 13\" M1 8GB & 256GB",
    "Spülmaschine Siemens iQ500 – Ausstellungsstück",
}};

// What the picture of each title base shows.
const std::array<const char*, 16> TitleMotifs{{"train", "brick", "boot", "camera", "lamp", "handheld",
                                               "drill", "jacket", "watch", "mill", "bike", "camera", "cup",
                                               "book", "laptop", "washer"}};

const std::array<const char*, 8> TitleSuffixes{
    {"", " Top Zustand", " – selten!", " #2", " (defekt)", " & Zubehör", " Sammlung", " RAR"}};

const std::array<const char*, 10> Sellers{{"modellbahn-koenig", "retro_schatzkiste", "fotohaus-mueller",
                                           "bike-parts-24", "hans.dampf", "uhren&mehr", "tech-outlet-de",
                                           "oma_lieses_dachboden", "gadgetworld", "antik-boerse"}};

const std::array<const char*, 8> Bidders{
    {"b***r", "s***e", "k***3", "m***a", "t***9", "j***n", "p***l", "x***y"}};

const std::array<const char*, 5> ShippingServices{
    {"DE_DHLPaket", "DE_DeutschePostBrief", "DE_HermesPaket", "USPSPriority", "UK_RoyalMailFirstClass"}};

double Cents(TSandboxRandom& random, int lowEuros, int highEuros) {
    return random.Between(lowEuros * 100, highEuros * 100) / 100.0;
}

// A picture the sandbox draws, under a name as random as eBay's.
std::string GalleryPath(TSandboxRandom& random, const char* motif) {
    static const char Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789~";
    std::string name;
    for (int i = 0; i < 16; ++i)
        name += Alphabet[random.Below(sizeof(Alphabet) - 1)];
    return SandboxPicturePath(motif, name);
}

// Minutes from the start to the end of the listing: a few ended already, the rest from minutes to days ahead.
int EndOffsetMinutes(TSandboxRandom& random, int index) {
    if (index % 9 == 4) return -random.Between(1, 3 * 24 * 60);
    switch (random.Below(4)) {
    case 0:
        return random.Between(2, 59);
    case 1:
        return random.Between(60, 23 * 60);
    case 2:
        return random.Between(24 * 60, 6 * 24 * 60);
    default:
        return random.Between(7 * 24 * 60, 10 * 24 * 60);
    }
}

TSandboxItem GenerateItem(TSandboxRandom& random, const std::string& userName, int index, TDateTime start) {
    TSandboxItem item;
    const TSite& site =
        index % 2 == 0 ? Sites[0] : Sites[1 + static_cast<size_t>(random.Below(Sites.size() - 1))];
    item.Site = site.Code;
    item.Currency = site.Currency;
    item.ViewItemURL =
        std::string("https://") + site.Domain + "/itm/"; // the item id follows once it is drawn
    item.Title =
        std::string(TitleBases[static_cast<size_t>(index) % TitleBases.size()]) + random.Pick(TitleSuffixes);
    item.Seller = random.Pick(Sellers);

    const int kind = index % 4; // 0, 3: auction; 1: auction with buy-it-now; 2: fixed price
    if (kind == 2) {
        item.ListingType = random.Below(3) == 0 ? "StoresFixedPrice" : "FixedPriceItem";
        item.CurrentPrice = Cents(random, 5, 900);
        item.BuyItNowPrice = item.CurrentPrice;
        item.QuantityAvailable = random.Between(1, 20);
    } else {
        item.ListingType = "Chinese";
        item.CurrentPrice = Cents(random, 1, 500);
        item.BidCount = index % 5 == 0 ? 0 : random.Between(1, 25);
        if (kind == 1) item.BuyItNowPrice = std::round(item.CurrentPrice * 130 + 500) / 100;
        if (item.BidCount > 0)
            item.HighBidder = index % 7 == 3 || random.Below(5) == 0 ? userName : random.Pick(Bidders);
    }
    if (index % 3 != 2)
        item.GalleryURL = GalleryPath(random, TitleMotifs[static_cast<size_t>(index) % TitleMotifs.size()]);
    if (index % 4 != 3) {
        const int options = random.Between(1, 2);
        for (int o = 0; o < options; ++o)
            item.Shipping.push_back(
                {random.Pick(ShippingServices), random.Below(4) == 0 ? 0.0 : Cents(random, 2, 25)});
    }

    const int offset = EndOffsetMinutes(random, index);
    item.EndTime = start + (offset * 60.0 + random.Below(60)) / SecsPerDay;
    static const std::array<int, 5> Durations{1, 3, 5, 7, 10};
    item.StartTime = item.EndTime - random.Pick(Durations);
    // A watched listing has started already, however far away its end is.
    if (item.StartTime > start) item.StartTime = start - random.Between(10, 48 * 60) / MinsPerDay;
    return item;
}

} // namespace

std::string SandboxUserID(const std::string& userName) {
    std::string lower = userName;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    // Letters and digits that no user name of the sandbox's accounts could be mistaken for.
    static const char Alphabet[] = "abcdefghijkmnopqrstuvwxyzABCDEFGHJKLMNPQRSTUVWXYZ23456789";
    uint64_t hash = HashName("immutable:" + lower);
    std::string id = "u";
    for (int i = 0; i < 12; ++i) {
        id += Alphabet[hash % (sizeof(Alphabet) - 1)];
        hash = hash / (sizeof(Alphabet) - 1) ^ (hash << 29);
    }
    return id;
}

TSandboxAccount GenerateSandboxAccount(const std::string& userName, int count, uint64_t seed,
                                       TDateTime start) {
    TSandboxRandom random(seed ^ HashName(userName));
    TSandboxAccount account;
    account.UserName = userName;
    account.UserID = SandboxUserID(userName);
    std::set<std::string> ids;
    for (int i = 0; i < count; ++i) {
        TSandboxItem item = GenerateItem(random, userName, i, start);
        do {
            item.ItemID = std::to_string(110000000000ULL + random.Next() % 290000000000ULL);
        } while (!ids.insert(item.ItemID).second);
        item.ViewItemURL += item.ItemID;
        account.WatchList.push_back(std::move(item));
    }
    std::stable_sort(account.WatchList.begin(), account.WatchList.end(),
                     [](const TSandboxItem& a, const TSandboxItem& b) { return a.EndTime < b.EndTime; });
    return account;
}
