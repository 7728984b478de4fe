#include "items/UnitXMLDom.h"
#include "platform/UnitPlatformFiles.h"
#include "support/KovaTestSupport.h"

#include <gtest/gtest.h>
#include <pugixml.hpp>
#include <sstream>
#include <utility>

namespace {

// UTF-8 text (BMP only) as UTF-16 bytes, optionally with a byte order mark.
std::string ToUtf16(const std::string& utf8, bool bigEndian, bool bom) {
    std::u16string wide;
    for (size_t i = 0; i < utf8.size();) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        char16_t cp;
        if (c < 0x80)
            cp = c, i += 1;
        else if (c < 0xE0)
            cp = static_cast<char16_t>((c & 0x1F) << 6 | (utf8[i + 1] & 0x3F)), i += 2;
        else
            cp = static_cast<char16_t>((c & 0x0F) << 12 | (utf8[i + 1] & 0x3F) << 6 | (utf8[i + 2] & 0x3F)),
            i += 3;
        wide += cp;
    }
    std::string out;
    if (bom) wide.insert(wide.begin(), u'\uFEFF');
    for (char16_t w : wide) {
        const char hi = static_cast<char>(w >> 8), lo = static_cast<char>(w & 0xFF);
        out += bigEndian ? hi : lo;
        out += bigEndian ? lo : hi;
    }
    return out;
}

std::string LoadError(const std::string& bytes) {
    TXMLDocument doc;
    try {
        doc.LoadFromXML(bytes);
    } catch (const EXMLDomError& e) {
        EXPECT_TRUE(doc.IsEmpty()) << "a failed load must leave no half document";
        return e.Message();
    }
    return "";
}

} // namespace

TEST(XMLDom, NodeValueOfTextEmptyAndStructuredElements) {
    TXMLDocument doc;
    doc.LoadFromXML("<r><t> abc </t><c><![CDATA[a<b]]></c><e/><n><x>1</x></n><m>a<x/>b</m></r>");
    auto kids = doc.DocumentElement().ChildNodes();
    EXPECT_EQ(kids.FindNode("t").NodeValue(), " abc ");
    EXPECT_EQ(kids.FindNode("c").NodeValue(), "a<b");
    EXPECT_EQ(kids.FindNode("e").NodeValue(), std::nullopt);
    EXPECT_EQ(kids.FindNode("absent").NodeValue(), std::nullopt);
    for (const char* name : {"n", "m"}) {
        try {
            (void)kids.FindNode(name).NodeValue();
            ADD_FAILURE() << name << " has child elements and must not give a value";
        } catch (const EXMLDomError& e) {
            EXPECT_STREQ(e.what(), "Element does not contain a single text node");
        }
    }
}

TEST(XMLDom, ChildListOperations) {
    TXMLDocument doc;
    doc.LoadFromXML("<r a=\"\" b=\" x \"><k>1</k><k>2</k></r>");
    TXMLNode root = doc.DocumentElement();
    EXPECT_EQ(root.GetAttribute("a"), "") << "an empty attribute is not an absent one";
    EXPECT_EQ(root.GetAttribute("b"), " x ");
    EXPECT_EQ(root.GetAttribute("c"), std::nullopt);

    auto kids = root.ChildNodes();
    EXPECT_EQ(kids.GetNodeByName("k").NodeValue(), "1") << "an existing element is found, not created";
    EXPECT_EQ(kids.Count(), 2);
    TXMLNode created = kids.GetNodeByName("z");
    EXPECT_EQ(kids.Count(), 3);
    EXPECT_EQ(created.NodeValue(), std::nullopt);
    EXPECT_EQ(kids.First().NextSibling().NextSibling(), created);
    EXPECT_TRUE(created.NextSibling().IsNull());

    EXPECT_TRUE(kids.Delete("k"));
    EXPECT_EQ(kids.FindNode("k").NodeValue(), "2") << "only the first element of that name goes";
    EXPECT_FALSE(kids.Delete("none"));

    TXMLNode k = kids.FindNode("k");
    k.AddChild("inner");
    k.SetNodeValue("v<&>");
    EXPECT_EQ(k.NodeValue(), "v<&>") << "setting the value replaces child elements too";
    k.SetNodeValue("");
    EXPECT_EQ(k.NodeValue(), std::nullopt) << "an emptied element reads as it will after a reload";
}

TEST(XMLDom, SavedDocumentLoadsBackAndSaveIsAtomic) {
    TTempDir dir;
    TXMLDocument doc;
    TXMLNode root = doc.CreateDocumentElement("Reminder");
    TXMLNode a = root.AddChild("Auction");
    a.SetAttribute("ArticleID", "12\"3");
    a.AddChild("Description")
        .SetNodeValue("Gr\xC3\xBC\xC3\x9F"
                      "e & <Tags>");
    const std::string path = dir.File("watchlist.dat");
    doc.SaveToFile(path);
    EXPECT_EQ(ReadTextFile(path).rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>", 0), 0u);

    TXMLDocument back;
    back.LoadFromFile(path);
    TXMLNode auction = back.DocumentElement().ChildNodes().FindNode("Auction");
    EXPECT_EQ(auction.GetAttribute("ArticleID"), "12\"3");
    EXPECT_EQ(auction.ChildNodes().FindNode("Description").NodeValue(), "Gr\xC3\xBC\xC3\x9F"
                                                                        "e & <Tags>");

    SetWriteFaultForTesting([](const std::string&) { return true; });
    root.AddChild("More");
    EXPECT_ANY_THROW(doc.SaveToFile(path));
    SetWriteFaultForTesting(nullptr);
    TXMLDocument old;
    old.LoadFromFile(path);
    EXPECT_TRUE(old.DocumentElement().ChildNodes().FindNode("More").IsNull()) << "the old file stays whole";
}

TEST(XMLDom, LoadsFromStreamAndFailsClearlyOnMalformedInput) {
    std::istringstream in("<?xml version=\"1.0\"?>\n<a><b>x</b></a>");
    TXMLDocument doc;
    doc.LoadFromStream(in);
    EXPECT_EQ(doc.DocumentElement().ChildNodes().FindNode("b").NodeValue(), "x");

    for (const char* bad :
         {"", "Service Unavailable", "<a><b></a>", "<a>", "<a/><b/>", "junk<a/>", "<a/>junk"})
        EXPECT_NE(LoadError(bad), "") << "'" << bad << "' is no XML document";
    TXMLDocument missing;
    EXPECT_THROW(missing.LoadFromFile("/nonexistent/file.xml"), EXMLDomError);
}

TEST(XMLDom, Utf16DocumentsInBothByteOrders) {
    const std::string text = "<?xml version=\"1.0\" encoding=\"UTF-16\"?><r a=\"\xE2\x82\xAC\">Stra\xC3\x9F"
                             "e</r>";
    for (bool bigEndian : {false, true}) {
        for (bool bom : {true, false}) {
            TXMLDocument doc;
            doc.LoadFromXML(ToUtf16(text, bigEndian, bom));
            EXPECT_EQ(doc.DocumentElement().NodeValue(), "Stra\xC3\x9F"
                                                         "e")
                << bigEndian << bom;
            EXPECT_EQ(doc.DocumentElement().GetAttribute("a"), "\xE2\x82\xAC");
            EXPECT_NE(doc.SaveToXML().find("encoding=\"UTF-8\""), std::string::npos) << "saved as UTF-8";
        }
    }
}

TEST(XMLDom, EightBitEncodingsFromTheDeclaration) {
    TXMLDocument doc;
    doc.LoadFromXML("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><r>Stra\xDF"
                    "e</r>");
    EXPECT_EQ(doc.DocumentElement().NodeValue(), "Stra\xC3\x9F"
                                                 "e");
    doc.LoadFromXML("<?xml version='1.0' encoding='windows-1252'?><r>\x80 5</r>");
    EXPECT_EQ(doc.DocumentElement().NodeValue(), "\xE2\x82\xAC 5");
    doc.LoadFromXML("\xEF\xBB\xBF<r>\xC3\xA4</r>");
    EXPECT_EQ(doc.DocumentElement().NodeValue(), "\xC3\xA4");
}

TEST(XMLDom, DocumentsThatCannotBeReadAsTheySayFailToLoad) {
    EXPECT_NE(LoadError("<?xml version=\"1.0\" encoding=\"Shift_JIS\"?><r>x</r>").find("Shift_JIS"),
              std::string::npos);
    EXPECT_NE(LoadError("<?xml version=\"1.0\" encoding=\"KOI8-R\"?><r>x</r>"), "");
    EXPECT_NE(LoadError("<?xml version=\"1.0\" encoding=\"UTF-8\"?><r>Stra\xDF"
                        "e</r>")
                  .find("UTF-8"),
              std::string::npos)
        << "Latin-1 bytes in a UTF-8 document";
    EXPECT_NE(LoadError("<r>\xC0\xAF</r>"), "") << "overlong UTF-8 form";
    EXPECT_NE(LoadError("<r>\xED\xA0\x80</r>"), "") << "UTF-8 encoded surrogate";
    EXPECT_NE(LoadError("<?xml version=\"1.0\" encoding=\"US-ASCII\"?><r>\xC3\xA4</r>"), "");
    EXPECT_NE(LoadError("\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><r/>"), "");
    EXPECT_NE(LoadError(ToUtf16("<?xml version=\"1.0\" encoding=\"UTF-8\"?><r/>", false, true)), "")
        << "UTF-16 bytes declared as UTF-8";
    EXPECT_NE(LoadError("<?xml version='1.0' encoding='windows-1252'?><r>\x81</r>"), "");
}

// Readers that go through a document's text decode what they keep exactly as a load does, and refuse what a
// load might read otherwise; pugixml itself is the judge here.
TEST(XMLDom, TextAndAttributeValuesReadFromTheTextAsALoadReadsThem) {
    const std::string kept[] = {"plain",
                                "a &lt;b&gt; &amp; &quot;c&apos;",
                                "&#65;&#x20ac;&#x1F600;&#xD800;&#1114111;",
                                "tab\tand\nline",
                                "Füße 日本製 ]]> >",
                                " &#32;blanks&#x20; ",
                                "x&#0065;y"};
    const std::string refused[] = {"cr\rhere",   "bell\x07", "caf\xE9", "&unknown;", "&#0;",
                                   "&#x110000;", "&#X41;",   "&#;",     "&amp",      "&#99999999999;"};
    auto loaded = [](const std::string& text) {
        pugi::xml_document doc;
        const std::string xml = "<a>" + text + "</a>";
        EXPECT_TRUE(doc.load_buffer(xml.data(), xml.size()));
        return std::string(doc.child("a").child_value());
    };
    for (const std::string& text : kept) {
        std::string copy = text;
        char* const end = DecodeXMLTextInPlace(copy.data(), copy.data() + copy.size());
        ASSERT_NE(end, nullptr) << text;
        EXPECT_EQ(std::string(copy.data(), end), loaded(text)) << text;
        std::string original = text;
        const bool plain = PlainASCIIRunEnd(original.data()) == original.data() + original.size();
        EXPECT_EQ(plain, text == "plain") << text;
    }
    for (std::string text : refused)
        EXPECT_EQ(DecodeXMLTextInPlace(text.data(), text.data() + text.size()), nullptr) << text;

    for (const auto& [value, plain] :
         std::initializer_list<std::pair<std::string, bool>>{{"EUR\"", true},
                                                             {"Füße\"", true},
                                                             {"a'b\"", true},
                                                             {"a&amp;b\"", false},
                                                             {"a<b\"", false},
                                                             {"a\tb\"", false},
                                                             {"caf\xE9\"", false},
                                                             {"unclosed", false}}) {
        const char* close = PlainXMLAttributeValueEnd(value.data(), value.data() + value.size(), '"');
        EXPECT_EQ(close != nullptr, plain) << value;
        if (close) {
            EXPECT_EQ(close, value.data() + value.size() - 1) << value;
        }
    }
}
