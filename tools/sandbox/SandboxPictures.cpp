#include "SandboxPictures.h"

#include <array>
#include <cstdint>

namespace {

struct TMotif {
    const char* Name;
    const char* Shapes; // on a 140 x 140 canvas
};

constexpr std::array<TMotif, 15> Motifs{{
    {"train", R"(<rect x="18" y="60" width="74" height="34" rx="6" fill="#262626"/>)"
              R"(<rect x="84" y="42" width="36" height="52" rx="4" fill="#303030"/>)"
              R"(<rect x="92" y="50" width="20" height="16" rx="2" fill="#9fc6e8"/>)"
              R"(<rect x="28" y="40" width="12" height="22" fill="#333"/>)"
              R"(<rect x="12" y="90" width="112" height="8" fill="#b22222"/>)"
              R"(<g fill="#b22222" stroke="#111" stroke-width="4"><circle cx="36" cy="104" r="12"/>)"
              R"(<circle cx="66" cy="104" r="12"/><circle cx="104" cy="106" r="9"/></g>)"
              R"(<rect x="6" y="118" width="128" height="4" fill="#555"/>)"},
    {"brick",
     R"(<g fill="#e8473a" stroke="#a81e14" stroke-width="3"><circle cx="40" cy="54" r="9"/>)"
     R"(<circle cx="60" cy="54" r="9"/><circle cx="80" cy="54" r="9"/><circle cx="100" cy="54" r="9"/></g>)"
     R"(<rect x="24" y="58" width="92" height="46" rx="4")"
     R"( fill="#d62d20" stroke="#a81e14" stroke-width="3"/>)"},
    {"boot", R"(<path d="M32 30h32v44l36 12c14 4 20 12 20 22v6H28z" fill="#7a4a26"/>)"
             R"(<rect x="24" y="112" width="100" height="10" rx="3" fill="#2a2a2a"/>)"
             R"(<path d="M62 44H44M62 56H44M62 68H44" stroke="#e8d9b0" stroke-width="4"/>)"},
    {"camera",
     R"(<rect x="30" y="34" width="28" height="16" rx="3" fill="#1f1f1f"/>)"
     R"(<rect x="16" y="46" width="108" height="64" rx="8" fill="#1f1f1f"/>)"
     R"(<circle cx="72" cy="78" r="25" fill="#444" stroke="#999" stroke-width="4"/>)"
     R"(<circle cx="72" cy="78" r="13" fill="#2b4f7a"/><circle cx="67" cy="73" r="4" fill="#cfe3fb"/>)"
     R"(<rect x="100" y="54" width="16" height="8" rx="2" fill="#c9c9c9"/>)"},
    {"lamp", R"(<path d="M46 26h48l18 44H28z" fill="#f2e3b3" stroke="#c8a951" stroke-width="3"/>)"
             R"(<rect x="66" y="70" width="8" height="40" fill="#c8a951"/>)"
             R"(<ellipse cx="70" cy="114" rx="32" ry="8" fill="#b08d3a"/>)"},
    {"handheld",
     R"(<rect x="40" y="16" width="60" height="108" rx="8" fill="#6d6a8c"/>)"
     R"(<rect x="47" y="26" width="46" height="40" rx="3" fill="#333"/>)"
     R"(<rect x="53" y="32" width="34" height="28" fill="#9bbc0f"/>)"
     R"(<path d="M50 88h18M59 79v18" stroke="#222" stroke-width="6"/>)"
     R"(<circle cx="84" cy="92" r="5" fill="#a1245f"/><circle cx="93" cy="83" r="5" fill="#a1245f"/>)"},
    {"drill", R"(<rect x="28" y="40" width="72" height="28" rx="8" fill="#1d7a5a"/>)"
              R"(<rect x="100" y="49" width="26" height="10" fill="#8a8a8a"/>)"
              R"(<path d="M46 66h22l6 38H52z" fill="#1d7a5a"/>)"
              R"(<rect x="42" y="102" width="38" height="18" rx="3" fill="#222"/>)"},
    {"jacket",
     R"(<path d="M50 22l20 10 20-10 24 14 8 46-16 4-4-22v62H38V64l-4 22-16-4 8-46z" fill="#556b2f"/>)"
     R"(<path d="M70 32v92" stroke="#3b4a20" stroke-width="3"/>)"},
    {"watch", R"(<rect x="57" y="12" width="26" height="116" rx="6" fill="#8c8c8c"/>)"
              R"(<circle cx="70" cy="70" r="30" fill="#d4af37" stroke="#a8871c" stroke-width="4"/>)"
              R"(<circle cx="70" cy="70" r="23" fill="#f5f3ea"/>)"
              R"(<path d="M70 70V52M70 70l13 7" stroke="#222" stroke-width="3" stroke-linecap="round"/>)"},
    {"mill", R"(<path d="M70 40V26h30" stroke="#444" stroke-width="5" fill="none"/>)"
             R"(<circle cx="102" cy="26" r="7" fill="#8b5a2b"/>)"
             R"(<path d="M46 62l8-24h32l8 24z" fill="#6e6e6e"/>)"
             R"(<rect x="38" y="62" width="64" height="58" rx="4" fill="#8b5a2b"/>)"
             R"(<circle cx="70" cy="92" r="5" fill="#d4af37"/>)"},
    {"bike",
     R"(<g fill="none" stroke-width="5"><circle cx="38" cy="92" r="22" stroke="#222"/>)"
     R"(<circle cx="102" cy="92" r="22" stroke="#222"/>)"
     R"(<path d="M38 92l24-34h30l10 34M62 58l-4-10h-10M92 58l-4-12h12M62 58l14 34h-38" stroke="#c0392b"/>)"
     R"(</g>)"},
    {"cup", R"(<path d="M94 60h8a12 12 0 0 1 0 24h-10" fill="none" stroke="#2b5797" stroke-width="5"/>)"
            R"(<path d="M34 48h62l-6 52a10 10 0 0 1-10 8H50a10 10 0 0)"
            R"( 1-10-8z" fill="#fff" stroke="#2b5797" stroke-width="3"/>)"
            R"(<path d="M46 68c6-6 12 6 18 0s12 6 18 0" fill="none" stroke="#2b5797" stroke-width="2"/>)"
            R"(<ellipse cx="66" cy="114" rx="44" ry="6" fill="#e5ecf5" stroke="#2b5797" stroke-width="2"/>)"},
    {"book", R"(<rect x="36" y="20" width="72" height="100" rx="3" fill="#7b2d26"/>)"
             R"(<rect x="30" y="20" width="10" height="100" rx="2" fill="#5a1f1a"/>)"
             R"(<rect x="52" y="38" width="42" height="28" fill="none" stroke="#d9b75b" stroke-width="3"/>)"
             R"(<path d="M52 86h40M52 95h30" stroke="#d9b75b" stroke-width="3"/>)"},
    {"laptop", R"(<rect x="30" y="30" width="80" height="56" rx="4" fill="#bfc5cc"/>)"
               R"(<rect x="36" y="36" width="68" height="44" fill="#24456f"/>)"
               R"(<path d="M16 90h108l-8 16H24z" fill="#d7dbe0" stroke="#9aa3ad" stroke-width="2"/>)"},
    {"washer", R"(<rect x="34" y="18" width="72" height="106" rx="4")"
               R"( fill="#ececec" stroke="#9a9a9a" stroke-width="3"/>)"
               R"(<rect x="35.5" y="19.5" width="69" height="16" fill="#cfcfcf"/>)"
               R"(<rect x="56" y="46" width="28" height="5" rx="2" fill="#777"/>)"
               R"(<circle cx="92" cy="27" r="3" fill="#2b79d8"/>)"},
}};

uint32_t NameHash(std::string_view name) {
    uint32_t hash = 2166136261u; // FNV-1a
    for (unsigned char c : name)
        hash = (hash ^ c) * 16777619u;
    return hash;
}

} // namespace

std::string SandboxPicturePath(std::string_view motif, std::string_view name) {
    return "/pictures/" + std::string(motif) + "/" + std::string(name) + ".svg";
}

std::optional<std::string> SandboxPicture(std::string_view motif, std::string_view name) {
    for (const TMotif& known : Motifs) {
        if (motif != known.Name) continue;
        // The background runs from a light to a deeper shade of the name's hue.
        std::string svg =
            R"svg(<svg xmlns="http://www.w3.org/2000/svg" width="140" height="140" viewBox="0 0 140 140">)svg"
            R"svg(<defs><linearGradient id="b" x1="0" y1="0" x2="0" y2="1">)svg"
            R"svg(<stop offset="0" stop-color="hsl(HUE,45%,90%)"/>)svg"
            R"svg(<stop offset="1" stop-color="hsl(HUE,40%,72%)"/>)svg"
            R"svg(</linearGradient></defs><rect width="140" height="140" fill="url(#b)"/>)svg";
        for (size_t at; (at = svg.find("HUE")) != std::string::npos;)
            svg.replace(at, 3, std::to_string(NameHash(name) % 360));
        return svg + known.Shapes + "</svg>\n";
    }
    return std::nullopt;
}
