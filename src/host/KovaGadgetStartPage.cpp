#include "host/KovaGadgetStartPage.h"

#include "base/UnitUtils.h"
#include "support/UnitKovaOpenURL.h"

#include <cstdio>
#include <ostream>

namespace {

bool Unreserved(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

std::string Hex(unsigned char c, const char* format) {
    char text[8];
    std::snprintf(text, sizeof text, format, c);
    return text;
}

// A string literal for the script; every character that could end the literal or the script is escaped.
std::string ScriptString(const std::string& text) {
    std::string literal = "\"";
    for (const char c : text)
        literal += Unreserved(c) || c == ':' || c == '/' || c == '#'
                       ? std::string(1, c)
                       : Hex(static_cast<unsigned char>(c), "\\x%02x");
    return literal + "\"";
}

} // namespace

std::string KovaGadgetStartPageHtml(const std::string& pageUrl) {
    const std::string attribute = HtmlEscape(pageUrl);
    // The secret rides in the address's fragment, which no request and no referrer ever carries; the page
    // still asks for no referrer, so that not even its own path goes along.
    return "<!DOCTYPE html>\n"
           "<html>\n<head>\n<meta charset=\"utf-8\">\n"
           "<meta name=\"referrer\" content=\"no-referrer\">\n"
           "<meta http-equiv=\"Cache-Control\" content=\"no-store\">\n"
           "<meta http-equiv=\"refresh\" content=\"0; url=" +
           attribute +
           "\">\n"
           "<title>KovaGadget</title>\n"
           "<script>location.replace(" +
           ScriptString(pageUrl) +
           ");</script>\n"
           "</head>\n<body>\n<p><a href=\"" +
           attribute + "\" rel=\"noreferrer\">KovaGadget</a></p>\n</body>\n</html>\n";
}

TKovaGadgetStartPage::TKovaGadgetStartPage(const std::string& pageUrl)
    : FFile(CreatePrivateFile("kova-gadget", "start-", ".html", KovaGadgetStartPageHtml(pageUrl))) {
}

TKovaGadgetStartPage::~TKovaGadgetStartPage() {
    Remove();
}

std::string TKovaGadgetStartPage::FileUrl() const {
    std::string url = "file://";
    for (const char c : FFile.Path)
        url += Unreserved(c) || c == '/' ? std::string(1, c) : Hex(static_cast<unsigned char>(c), "%%%02X");
    return url;
}

void TKovaGadgetStartPage::Remove() {
    if (FFile.Path.empty()) return;
    RemovePrivateFile(FFile);
    FFile = TPrivateFile();
}

std::unique_ptr<TKovaGadgetStartPage> OpenKovaGadgetStartPage(const std::string& pageUrl,
                                                              std::ostream& report) {
    std::unique_ptr<TKovaGadgetStartPage> page;
    try {
        page = std::make_unique<TKovaGadgetStartPage>(pageUrl);
    } catch (const std::exception& e) {
        report << "kova-gadget: the start page for the browser cannot be written, open the address above: "
               << e.what() << std::endl;
        return nullptr;
    }
    if (!page->PassedOver().empty()) report << "kova-gadget: " << page->PassedOver() << std::endl;
    OpenURL(page->FileUrl());
    return page;
}
