#include "host/KovaGadgetServerFiles.h"

#include "base/UnitUtils.h"

#include <sstream>
#include <utility>
#include <vector>

namespace {

bool IsPageFile(const std::string& extension) {
    return extension == "html" || extension == "css" || extension == "js" || extension == "mjs";
}

bool IsImage(const std::string& extension) {
    return extension == "png" || extension == "gif" || extension == "jpg" || extension == "jpeg" ||
           extension == "svg" || extension == "ico" || extension == "webp";
}

} // namespace

std::string KovaFileExtension(const std::string& name) {
    const size_t dot = name.rfind('.');
    return dot == std::string::npos ? "" : LowerCase(name.substr(dot + 1));
}

const char* KovaContentTypeFor(const std::string& extension) {
    static const std::pair<const char*, const char*> Types[] = {{"html", "text/html; charset=utf-8"},
                                                                {"css", "text/css; charset=utf-8"},
                                                                {"js", "text/javascript; charset=utf-8"},
                                                                {"mjs", "text/javascript; charset=utf-8"},
                                                                {"txt", "text/plain; charset=utf-8"},
                                                                {"png", "image/png"},
                                                                {"gif", "image/gif"},
                                                                {"jpg", "image/jpeg"},
                                                                {"jpeg", "image/jpeg"},
                                                                {"svg", "image/svg+xml"},
                                                                {"ico", "image/x-icon"},
                                                                {"webp", "image/webp"}};
    for (const auto& [ext, type] : Types)
        if (extension == ext) return type;
    return nullptr;
}

bool IsKovaControlOutput(const std::string& relative) {
    return relative == "result.txt" || relative == "details.html";
}

bool IsKovaServable(const std::string& relative) {
    if (relative.empty()) return false;
    std::vector<std::string> segments;
    std::stringstream parts(relative);
    for (std::string segment; std::getline(parts, segment, '/');)
        segments.push_back(segment);
    if (relative.back() == '/') return false;
    for (const std::string& segment : segments)
        if (segment.empty() || segment[0] == '.' || segment.find('\\') != std::string::npos ||
            segment.find('\0') != std::string::npos)
            return false;
    const std::string name = LowerCase(segments.back());
    // The data files, the settings, the log and the details template are the control's, not the page's.
    static const char* const Denied[] = {"kovadat.dat",    "ebtmp.dat",     "proxy.dat",
                                         "kovagadget.ini", "watchlist.dat", "detailstemp.html"};
    for (const char* denied : Denied)
        if (name == denied) return false;
    const std::string extension = KovaFileExtension(name);
    if (extension == "dat" || extension == "ini" || extension == "log" || extension == "tmp") return false;
    if (IsKovaControlOutput(relative)) return true;
    if (segments.size() > 1 && segments[0] == "images") return IsImage(extension);
    return IsPageFile(extension);
}
