// Reading 1000 typed child values (100 items of 10 fields, shaped like a watch list page) through
// TParserBaseXML and through pugixml's own accessors.

#include "items/UnitParserBaseXML.h"

#include <benchmark/benchmark.h>
#include <string>

namespace {

std::string MakeDocument() {
    std::string xml = "<ItemArray>";
    for (int i = 0; i < 100; ++i) {
        const std::string n = std::to_string(i);
        xml += "<Item><ItemID>1100456789" + n + "</ItemID><Title> Item number " + n + " </Title><BidCount>" +
               n + "</BidCount><Quantity>1</Quantity><CurrentPrice>" + n +
               ".99</CurrentPrice><BuyItNowPrice>" + n +
               "9.5</BuyItNowPrice><ShippingCost>4.9</ShippingCost><Site>Germany</Site><Watchers>" + n +
               "</Watchers><ViewItemURL>http://example.invalid/item/" + n + "</ViewItemURL></Item>";
    }
    return xml + "</ItemArray>";
}

struct TItemValues {
    int64_t Id;
    std::string Title, Site, Url;
    int Bids, Quantity, Watchers;
    double Price, BuyNow, Shipping;
};

void BM_TParserBaseXML(benchmark::State& state) {
    TXMLDocument doc;
    doc.LoadFromXML(MakeDocument());
    TParserBaseXML r;
    for (auto _ : state) {
        for (TXMLNode item = doc.DocumentElement().ChildNodes().First(); item; item = item.NextSibling()) {
            TItemValues v{r.ReadChildInt64(item, "ItemID"),
                          r.ReadChildText(item, "Title"),
                          r.ReadChildText(item, "Site"),
                          r.ReadChildText(item, "ViewItemURL"),
                          r.ReadChildInteger(item, "BidCount", 0),
                          r.ReadChildInteger(item, "Quantity", 0),
                          r.ReadChildInteger(item, "Watchers", 0),
                          r.ReadChildFloat(item, "CurrentPrice", 0),
                          r.ReadChildFloat(item, "BuyItNowPrice", 0),
                          r.ReadChildFloat(item, "ShippingCost", 0)};
            benchmark::DoNotOptimize(v);
        }
    }
    state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_TParserBaseXML);

void BM_PugixmlDirect(benchmark::State& state) {
    pugi::xml_document doc;
    const std::string xml = MakeDocument();
    doc.load_buffer(xml.data(), xml.size());
    for (auto _ : state) {
        for (pugi::xml_node item = doc.document_element().first_child(); item; item = item.next_sibling()) {
            TItemValues v{item.child("ItemID").text().as_llong(0),
                          item.child("Title").text().as_string(),
                          item.child("Site").text().as_string(),
                          item.child("ViewItemURL").text().as_string(),
                          item.child("BidCount").text().as_int(0),
                          item.child("Quantity").text().as_int(0),
                          item.child("Watchers").text().as_int(0),
                          item.child("CurrentPrice").text().as_double(0),
                          item.child("BuyItNowPrice").text().as_double(0),
                          item.child("ShippingCost").text().as_double(0)};
            benchmark::DoNotOptimize(v);
        }
    }
    state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_PugixmlDirect);

} // namespace
