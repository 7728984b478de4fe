// eBay's answers reach the document loader and the error parser as untrusted bytes.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "ebayapi/UnitNewAPIXMLErrorParser.h"
#include "items/UnitXMLDom.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TXMLDocument doc;
    try {
        doc.LoadFromXML(std::string_view(reinterpret_cast<const char*>(data), size));
    } catch (const EXMLDomError&) {
        return 0;
    }
    TEbayAPIXMLErrorParser parser;
    parser.ParseErrors(doc.DocumentElement());
    (void)parser.GetResultMessage();
    (void)doc.SaveToXML();
    return 0;
}
