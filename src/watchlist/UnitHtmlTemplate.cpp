#include "watchlist/UnitHtmlTemplate.h"

#include "items/UnitParserBaseXML.h"

std::string FillTemplate(std::string_view text, const TTemplateValues& values) {
    std::string out;
    out.reserve(text.size() + text.size() / 2);
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t open = text.find('%', pos);
        if (open == std::string_view::npos) break;
        out.append(text, pos, open - pos);
        const size_t close = text.find('%', open + 1);
        if (close == std::string_view::npos) {
            pos = open;
            break;
        }
        const std::string_view candidate = text.substr(open, close - open + 1);
        const std::string* replacement = nullptr;
        for (const auto& [placeholder, value] : values)
            if (placeholder == candidate) {
                replacement = &value;
                break;
            }
        if (replacement) {
            out += *replacement;
            pos = close + 1;
        } else {
            // The closing sign may open the next placeholder ("100%%PRICE%").
            out += '%';
            pos = open + 1;
        }
    }
    out.append(text, pos, std::string_view::npos);
    return out;
}

std::string ScriptStringText(std::string_view value) {
    static const char Hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(value.size());
    for (char c : value) {
        const unsigned char u = static_cast<unsigned char>(c);
        const bool plain = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') ||
                           u == ' ' || u == '.' || u == '-' || u == '_';
        if (plain) {
            out += c;
        } else {
            out += "\\x";
            out += Hex[u >> 4];
            out += Hex[u & 15];
        }
    }
    return out;
}

std::vector<std::string> SplitLines(std::string_view text) {
    return TextToLines(text);
}

std::string JoinLinesCRLF(const std::vector<std::string>& lines) {
    size_t size = 0;
    for (const auto& line : lines)
        size += line.size() + 2;
    std::string out;
    out.reserve(size);
    for (const auto& line : lines) {
        out += line;
        out += "\r\n";
    }
    return out;
}
