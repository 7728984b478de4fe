// ctest-labels: threaded
#include "base/UnitDateTime.h"
#include "base/UnitUtils.h"
#include "items/UnitParserBaseXML.h"
#include "platform/UnitPlatformLocale.h"

#include <algorithm>
#include <cfloat>
#include <climits>
#include <gtest/gtest.h>
#include <random>
#include <thread>

namespace {

// Parses a fragment and hands out its root, so each check reads like the XML it is about.
struct TDoc {
    TXMLDocument Doc;
    explicit TDoc(const std::string& xml) { Doc.LoadFromXML(xml); }
    TXMLNode Root() const { return Doc.DocumentElement(); }
    TXMLNode operator[](const std::string& name) const { return Root().ChildNodes().FindNode(name); }
};

// Writes one value with a fresh writer and reads it back with a fresh reader, both with the separator.
template <typename TWrite, typename TRead> auto RoundTrip(char separator, TWrite write, TRead read) {
    TXMLDocument doc;
    TXMLNode root = doc.CreateDocumentElement("r");
    TWriterBaseXML writer;
    writer.SetDecimalSeparator(separator);
    writer.ResetFormats();
    writer.OmitDefaults = false;
    write(writer, root);
    TXMLDocument back;
    back.LoadFromXML(doc.SaveToXML());
    TParserBaseXML reader;
    reader.SetDecimalSeparator(separator);
    reader.ResetFormats();
    return read(reader, back.DocumentElement());
}

} // namespace

TEST(ParserBaseXML, TypedWritesReadBackInBothSeparators) {
    // Doubles of up to 15 significant digits come back exactly; prices are singles and come back as the same
    // single from the 15 digits of their widened value.
    const double floats[] = {0, 12.5, -0.001, 1e20, 1.5e-7, 123456789012345, -3.25, 0.1};
    const float singles[] = {19.99f, FLT_MAX, FLT_MIN, -0.3f, 1e-30f};
    const int ints[] = {0, 1, -1, INT_MAX, INT_MIN};
    const int64_t int64s[] = {0, INT64_MAX, INT64_MIN, 1234567890123LL};
    const TDateTime dates[] = {0, EncodeDateTime(2009, 12, 24, 18, 30, 0, 0), EncodeDate(2009, 12, 24),
                               EncodeDateTime(1999, 1, 2, 0, 0, 1, 0),
                               EncodeDateTime(2038, 2, 28, 23, 59, 59, 0)};
    for (char sep : {'.', ','}) {
        for (double v : floats)
            EXPECT_EQ(RoundTrip(
                          sep, [&](auto& w, auto n) { w.WriteFloat(n, "f", v, 0); },
                          [&](auto& r, auto n) { return r.ReadChildFloat(n, "f", -99); }),
                      v)
                << sep << " " << v;
        for (float v : singles)
            EXPECT_EQ(static_cast<float>(RoundTrip(
                          sep, [&](auto& w, auto n) { w.WriteFloat(n, "f", v, 0); },
                          [&](auto& r, auto n) { return r.ReadChildFloat(n, "f", -99); })),
                      v)
                << sep << " " << v;
        for (int v : ints)
            EXPECT_EQ(RoundTrip(
                          sep, [&](auto& w, auto n) { w.WriteInteger(n, "i", v, 0); },
                          [&](auto& r, auto n) { return r.ReadChildInteger(n, "i", -99); }),
                      v);
        for (int64_t v : int64s)
            EXPECT_EQ(RoundTrip(
                          sep, [&](auto& w, auto n) { w.WriteInt64(n, "i", v, 0); },
                          [&](auto& r, auto n) { return r.ReadChildInt64(n, "i", -99); }),
                      v);
        for (TDateTime v : dates)
            EXPECT_EQ(RoundTrip(
                          sep, [&](auto& w, auto n) { w.WriteDateTime(n, "d", v, 0); },
                          [&](auto& r, auto n) { return r.ReadChildDateTime(n, "d"); }),
                      v)
                << sep << " " << v;
        for (bool v : {true, false})
            for (bool words : {true, false})
                EXPECT_EQ(RoundTrip(
                              sep, [&](auto& w, auto n) { w.WriteBoolean(n, "b", v, words, false); },
                              [&](auto& r, auto n) { return r.ReadChildBoolean(n, "b"); }),
                          v);
        const TStringLines lines{"http://a/1.jpg", "", "http://a/2.jpg"};
        EXPECT_EQ(RoundTrip(
                      sep, [&](auto& w, auto n) { w.WriteChildStrings(n, "s", lines, "?"); },
                      [&](auto& r, auto n) {
                          TStringLines out{"old"};
                          r.ReadChildStrings(n, "s", out, "?");
                          return out;
                      }),
                  lines);
        EXPECT_EQ(RoundTrip(
                      sep, [&](auto& w, auto n) { w.WriteString(n, "t", "a & <b> \xC3\xA4", ""); },
                      [&](auto& r, auto n) { return r.ReadChildText(n, "t"); }),
                  "a & <b> \xC3\xA4");
    }
}

TEST(ParserBaseXML, FloatsFollowTheObjectsSeparatorNeverTheLocale) {
    TPlatformLocale german;
    german.DecimalSeparator = ',';
    german.ThousandSeparator = '.';
    SetUserDefaultLocaleForTesting(german);
    TDoc d("<r><dot> 12.5 </dot><comma>12,5</comma><grouped>1,234.5</grouped><exp>2.5E3</exp></r>");
    TParserBaseXML reader;
    EXPECT_EQ(reader.ReadFloat(d["dot"], 7), 12.5);
    EXPECT_EQ(reader.ReadFloat(d["comma"], 7), 7);
    EXPECT_EQ(reader.ReadFloat(d["grouped"], 7), 7) << "thousands separators are refused";
    EXPECT_EQ(reader.ReadFloat(d["exp"], 7), 2500);
    EXPECT_EQ(reader.ReadFloat(d["missing"], 7), 7);
    reader.SetDecimalSeparator(',');
    EXPECT_EQ(reader.ReadFloat(d["dot"], 7), 7);
    EXPECT_EQ(reader.ReadFloat(d["comma"], 7), 12.5);

    TXMLDocument doc;
    TXMLNode root = doc.CreateDocumentElement("r");
    TWriterBaseXML writer;
    writer.WriteFloat(root, "a", 1234567.5, 0);
    writer.SetDecimalSeparator(',');
    writer.WriteFloat(root, "b", 12.5, 0);
    writer.WriteFloat(root, "c", 0, 1);
    SetUserDefaultLocaleForTesting(std::nullopt);
    TParserBaseXML plain;
    EXPECT_EQ(plain.ReadChildText(root, "a"), "1234567.5");
    EXPECT_EQ(plain.ReadChildText(root, "b"), "12,5");
    EXPECT_EQ(plain.ReadChildText(root, "c"), "0");
}

TEST(ParserBaseXML, TextAndNumberReads) {
    TDoc d(
        "<r a=\"  spaced \" n=\"x\" b=\"TRUE\"><t>  abc  </t><i> 42 </i><bad>abc</bad><big>2147483648</big>"
        "<hex>$1F</hex><c>  q</c><e/><n><x>1</x></n></r>");
    TParserBaseXML r;
    EXPECT_EQ(r.ReadText(d["t"]), "abc");
    EXPECT_EQ(r.ReadText(d["missing"]), "");
    EXPECT_EQ(r.ReadAttrText(d.Root(), "a"), "  spaced ");
    EXPECT_EQ(r.ReadAttrText(TXMLNode(), "a"), "") << "a missing node reads as no attribute, no crash";
    EXPECT_TRUE(r.AttributeEquals("b", "true", d.Root()));
    EXPECT_FALSE(r.AttributeEquals("a", "spaced", d.Root()));
    EXPECT_EQ(r.ReadAttrInteger(d.Root(), "n", 3), 3);
    EXPECT_EQ(r.ReadAttrInteger(d.Root(), "n"), 0);
    EXPECT_TRUE(r.ReadAttrBoolean(d.Root(), "b"));
    EXPECT_EQ(r.ReadInteger(d["i"], 7), 42);
    EXPECT_EQ(r.ReadInteger(d["bad"], 7), 7);
    EXPECT_EQ(r.ReadInteger(d["big"], 7), 7) << "out of the 32-bit range";
    EXPECT_EQ(r.ReadInt64(d["big"]), 2147483648LL);
    EXPECT_EQ(r.ReadInteger(d["hex"], 7), 31);
    EXPECT_EQ(r.ReadChar(d["c"]), ' ') << "the character is taken before trimming";
    EXPECT_EQ(r.ReadChar(d["e"]), '\0');
    EXPECT_EQ(r.ReadChar(d["missing"]), '\0');
    EXPECT_TRUE(r.ReadChildTextIn(d.Root(), "t", {"x", "abc"}));
    EXPECT_FALSE(r.ReadChildTextIn(d.Root(), "t", {"ABC"}));
    EXPECT_FALSE(r.ReadChildTextIn(d.Root(), "t", {}));
    EXPECT_THROW(r.ReadChildText(d.Root(), "n"), EXMLDomError) << "structure errors reach the caller";
    EXPECT_THROW(r.ReadChildInteger(d.Root(), "n", 1), EXMLDomError);
}

TEST(ParserBaseXML, HexBooleanCurrencyAndDateReads) {
    TDoc d("<r><h1>#0000FF</h1><h2>FF8000</h2><h3>$FF8000</h3><h4/><h5>xyz</h5><h6>#FFFFFFFF</h6>"
           "<b1>TRUE</b1><b2>true</b2><b3>1</b3><b4>-1</b4><b5>yes</b5><b6>0</b6><b7>False</b7>"
           "<m1>19.99</m1><m2>0.00005</m2><m3>1e300</m3><m4>abc</m4>"
           "<d1>24.12.2009 18:30:00</d1><d2>24.12.2009</d2><d3>30.12.1899</d3><d4>2009-12-24</d4>"
           "<d5>31.02.2009</d5><d6>24.12.2009 18:30</d6><iso>2009-03-15 18:30:00</iso></r>");
    TParserBaseXML r;
    EXPECT_EQ(r.ReadHexInteger(d["h1"]), 255);
    EXPECT_EQ(r.ReadHexInteger(d["h2"]), 0xFF8000);
    EXPECT_EQ(r.ReadChildHexInteger(d.Root(), "h3"), 0xFF8000);
    EXPECT_EQ(r.ReadHexInteger(d["h4"]), 0);
    EXPECT_EQ(r.ReadHexInteger(d["h5"]), 0);
    EXPECT_EQ(r.ReadHexInteger(d["h6"]), -1);
    for (const char* name : {"b1", "b2", "b3", "b4"})
        EXPECT_TRUE(r.ReadBoolean(d[name])) << name;
    for (const char* name : {"b5", "b6", "b7", "missing"})
        EXPECT_FALSE(r.ReadBoolean(d[name])) << name;

    EXPECT_EQ(r.ReadCurrency(d["m1"]).Scaled, 199900);
    EXPECT_EQ(r.ReadChildCurrency(d.Root(), "m2").Scaled, 0) << "half a ten-thousandth rounds to even";
    EXPECT_THROW(r.ReadCurrency(d["m3"]), EConvertError);
    EXPECT_EQ(r.ReadCurrency(d["m4"]).Scaled, 0);

    EXPECT_EQ(r.ReadDateTime(d["d1"]), EncodeDateTime(2009, 12, 24, 18, 30, 0, 0));
    EXPECT_EQ(r.ReadDateTime(d["d2"]), EncodeDate(2009, 12, 24));
    EXPECT_EQ(r.ReadDateTime(d["d3"]), 0);
    EXPECT_EQ(r.ReadDateTime(d["d4"]), 0) << "another order is malformed here";
    EXPECT_EQ(r.ReadDateTime(d["d5"]), 0);
    EXPECT_EQ(r.ReadDateTime(d["d6"]), EncodeDateTime(2009, 12, 24, 18, 30, 0, 0));
    TFormatSettings ebay = r.GetFormatSettings().FormatSettings();
    ebay.DateSeparator = '-';
    ebay.ShortDateFormat = "yyyyy-mm-dd";
    EXPECT_EQ(r.ReadChildDateTime(d.Root(), "iso", ebay), EncodeDateTime(2009, 3, 15, 18, 30, 0, 0));
    EXPECT_EQ(r.ReadChildDateTime(d.Root(), "iso"), 0) << "the caller's settings were not kept";
}

TEST(ParserBaseXML, ListReads) {
    TDoc d("<r><s>a?b??c</s><l><a>1</a><b/><A>2</A><c> 3 </c></l><e/></r>");
    TParserBaseXML r;
    TStringLines list{"stale"};
    r.ReadChildStrings(d.Root(), "s", list, "?");
    EXPECT_EQ(list, (TStringLines{"a", "b", "", "c"}));
    r.ReadChildStrings(d.Root(), "e", list, "?");
    EXPECT_TRUE(list.empty());
    r.ReadChildNodeList(d.Root(), "l", list, false);
    EXPECT_EQ(list, (TStringLines{"1", "", "2", "3"}));
    list = {"b=old"};
    r.ReadChildNodeList(d.Root(), "l", list, true);
    EXPECT_EQ(list, (TStringLines{"A=2", "c=3"}))
        << "names are matched without letter case, as list entries are";
    // Line breaks beside separators split as if each separator had been a line feed.
    for (const char* text : {"a&#13;?b", "?a??", "a&#13;\n?b?", "&#13;", "a?&#13;&#13;?", "??", "a\n?&#13;"})
        for (const char* separator : {"?", "&#13;", "??"}) {
            TDoc t(std::string("<s>") + text + "</s>");
            const std::string raw(TParserBaseXML::TextView(t.Root()));
            const std::string sep = separator == std::string("&#13;") ? "\r" : separator;
            r.ReadStrings(t.Root(), list, sep);
            EXPECT_EQ(list, TextToLines(StringReplaceAll(raw, sep, "\n"))) << text << " with " << separator;
        }
    TDoc ab("<r><a>1</a><b></b></r>");
    r.ReadNodeList(ab.Root(), list, true);
    EXPECT_EQ(list, (TStringLines{"a=1"}));
    EXPECT_EQ(LinesValue(list, "A"), "1");
}

TEST(ParserBaseXML, WriterDefaultsAndAppending) {
    TDoc d("<r><x>keep</x><name>old</name></r>");
    TXMLNode root = d.Root();
    TWriterBaseXML w;
    w.WriteString(root, "name", "abc", "ABC");
    EXPECT_TRUE(root.ChildNodes().FindNode("name").IsNull()) << "a default value removes the element";
    w.WriteInteger(root, "i", 0, 0);
    w.WriteFloat(root, "f", 0.5, 0.5);
    w.WriteBoolean(root, "b", false, true, false);
    w.WriteDateTime(root, "d", 0, 0);
    EXPECT_EQ(root.ChildNodes().Count(), 1);

    w.OmitDefaults = false;
    w.WriteString(root, "name", "abc", "ABC");
    w.WriteString(root, "name", "second", "");
    TParserBaseXML r;
    TStringLines all;
    r.ReadNodeList(root, all, false);
    EXPECT_EQ(all, (TStringLines{"keep", "abc", "second"})) << "writes append, never update in place";

    w.WriteBoolean(root, "w", true, true, false);
    w.WriteBoolean(root, "n", true, false, false);
    w.WriteDateTime(root, "dt", EncodeDateTime(2009, 12, 24, 18, 30, 0, 0), 0);
    w.WriteDateTime(root, "mid", EncodeDate(2009, 12, 24), 0);
    w.WriteDateTime(root, "ms", EncodeDateTime(2009, 12, 24, 18, 30, 5, 999), 0);
    w.WriteInteger(root, "neg", -17, 0);
    EXPECT_EQ(r.ReadChildText(root, "w"), "True");
    EXPECT_EQ(r.ReadChildText(root, "n"), "-1");
    EXPECT_EQ(r.ReadChildText(root, "dt"), "24.12.2009 18:30:00");
    EXPECT_EQ(r.ReadChildText(root, "mid"), "24.12.2009");
    EXPECT_EQ(r.ReadChildText(root, "ms"), "24.12.2009 18:30:05");
    EXPECT_EQ(r.ReadChildText(root, "neg"), "-17");

    TXMLNode x = root.ChildNodes().FindNode("x");
    w.WriteStrings(x, {}, "?");
    EXPECT_EQ(r.ReadText(x), "keep") << "an empty list leaves the text alone";
    w.WriteStrings(x, {" a", "b "}, "?");
    EXPECT_EQ(x.NodeValue(), "a?b");
    w.WriteChildStrings(root, "none", {}, "?");
    EXPECT_TRUE(root.ChildNodes().FindNode("none").IsNull());
    w.SetText(TXMLNode(), "ignored");
    EXPECT_THROW(w.WriteString(TXMLNode(), "a", "v", ""), EXMLDomError)
        << "a write to no node is not lost silently";
}

TEST(ParserBaseXML, ObjectsInThreadsKeepTheirOwnSeparators) {
    TDoc d("<r><dot>12.5</dot><comma>12,5</comma><when>24.12.2009 18:30:00</when></r>");
    auto run = [&](char separator, const char* own, double& sum) {
        TParserBaseXML r;
        r.SetDecimalSeparator(separator);
        r.ResetFormats();
        TXMLNode root = d.Root();
        for (int i = 0; i < 2000; ++i)
            sum += r.ReadChildFloat(root, own, 0) + r.ReadChildDateTime(root, "when");
    };
    double dotSum = 0, commaSum = 0;
    std::thread a(run, '.', "dot", std::ref(dotSum));
    std::thread b(run, ',', "comma", std::ref(commaSum));
    a.join();
    b.join();
    EXPECT_EQ(dotSum, commaSum);
    EXPECT_GT(dotSum, 2000 * 12.5);
}

// The readers and writers convert on text views; what they give must be what the general conversions of the
// format record give, for the stored forms and for every awkward text alike.
TEST(ParserBaseXML, ViewConversionsAgreeWithTheFormatRecordConversions) {
    const std::string texts[] = {"",
                                 " ",
                                 "12.5",
                                 " 12,5 ",
                                 "\t-7\r\n",
                                 "+3",
                                 "-0",
                                 "1e5",
                                 "1E-3",
                                 "2.5e+3",
                                 "1.e5",
                                 ".5",
                                 "5.",
                                 "1.5e",
                                 "1,234.5",
                                 "1.234,5",
                                 "+-5",
                                 "-",
                                 "e5",
                                 "$FF",
                                 "$ff",
                                 "$-5",
                                 "0x10",
                                 "0X1g",
                                 "$",
                                 "2147483647",
                                 "2147483648",
                                 "-2147483649",
                                 "9223372036854775807",
                                 "9223372036854775808",
                                 "1e400",
                                 "4.9e-324",
                                 "1e-400",
                                 std::string(70, '9') + ".5",
                                 "0000000000000000000000001",
                                 "NaN",
                                 "INF",
                                 "12 5",
                                 "24.12.2009",
                                 "24.12.2009 18:30:00",
                                 "30.12.1899",
                                 "01.01.0001 00:00:00",
                                 "31.12.9999 23:59:59",
                                 "31.02.2009",
                                 "24.13.2009",
                                 "24.12.2009 24:00:00",
                                 "24.12.2009 18:60:00",
                                 "24.12.2009 18:30:60",
                                 "24.12.09",
                                 "1.2.2009",
                                 "24.12.2009 18:30",
                                 "24.12.2009  18:30:00",
                                 "24.12.2009 18:30:00.123",
                                 "24.12.2009 6:30 PM",
                                 "18:30:00",
                                 "24-12-2009",
                                 "24.12.2009 18:30:00 ",
                                 "00.00.0000 00:00:00",
                                 "999999999999999",
                                 "9999999999999999",
                                 "0.000000000000001",
                                 "-123456789.012345",
                                 "9007199254740993"};
    // Random prices and long fractions on both sides of the 15-digit shortcut, too.
    std::vector<std::string> decimals;
    std::mt19937 random(7);
    for (int n = 0; n < 4000; ++n) {
        std::string d = random() % 5 == 0 ? "-" : "";
        const int length = 1 + static_cast<int>(random() % 17), point = static_cast<int>(random() % length);
        for (int k = 0; k < length; ++k)
            d += static_cast<char>('0' + random() % 10) + std::string(k == point ? "." : "");
        decimals.push_back(d);
    }
    for (const char separator : {'.', ','}) {
        TParserBaseXML base;
        base.SetDecimalSeparator(separator);
        base.ResetFormats();
        const TFormatSettings& fs = base.GetFormatSettings().FormatSettings();
        for (const std::string& t : texts) {
            SCOPED_TRACE("\"" + t + "\" with " + separator);
            double fast = -1, general = -1;
            EXPECT_EQ(TryTextToFloat(t, separator, fast), TryStrToFloat(t, general, fs));
            EXPECT_EQ(fast, general);
            long long fastInt = -1, generalInt = -1;
            EXPECT_EQ(TryTextToInt64(t, fastInt), TryStrToInt64(t, generalInt));
            EXPECT_EQ(fastInt, generalInt);
            TDateTime fastTime = -1, generalTime = -1;
            EXPECT_EQ(TryTextToDateTime(t, fastTime, fs), TryStrToDateTime(t, generalTime, fs));
            EXPECT_EQ(fastTime, generalTime);
        }
        for (std::string d : decimals) {
            std::replace(d.begin(), d.end(), '.', separator);
            double fast = -1, general = -2;
            ASSERT_TRUE(TryTextToFloat(d, separator, fast)) << d;
            ASSERT_TRUE(TryStrToFloat(d, general, base.GetFormatSettings().FormatSettings())) << d;
            ASSERT_EQ(fast, general) << d;
        }

        const double values[] = {
            0,      -0.0,  12.5,    -12.5,           19.99f,   1e20,    1.5e-5, 123456789012345678.0,
            1e-300, 1e300, DBL_MAX, DBL_MIN,         4.9e-324, FLT_MAX, 0.1,    2.0 / 3,
            -1e-7,  1e15,  1e16,    99999999999999.9};
        for (const double v : values) {
            std::string fast;
            AppendFloatText(fast, v, separator);
            EXPECT_EQ(fast, FloatToStr(v, fs)) << v;
        }
    }

    TParserBaseXML base;
    const TFormatSettings& fs = base.GetFormatSettings().FormatSettings();
    const TDateTime times[] = {0,
                               1,
                               -1.25,
                               40000.75,
                               46000.5 + 0.123 / 86400,
                               -693593,
                               -693594.5,
                               2958465.9999,
                               2958466.5,
                               46000.999999999,
                               45000 + 0.5 / 86400000,
                               -2.5};
    for (const TDateTime t : times) {
        int h, n, s, z;
        DecodeTime(t, h, n, s, z);
        std::string general = FormatDateTime(fs.ShortDateFormat, t, fs);
        if (h != 0 || n != 0 || s != 0) general += " " + FormatDateTime(fs.LongTimeFormat, t, fs);
        std::string fast;
        AppendDateTimeText(fast, t, fs);
        EXPECT_EQ(fast, general) << t;
    }
}
