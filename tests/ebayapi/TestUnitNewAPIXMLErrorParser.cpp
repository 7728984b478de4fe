#include "ebayapi/UnitNewAPIXMLErrorParser.h"

#include <gtest/gtest.h>

namespace {

using Code = TParserResultCode;

std::string DataFile(const std::string& name) {
    return std::string(KOVA_TEST_DATA_DIR) + "/ebayapi/" + name;
}

struct TParsed {
    TXMLDocument Doc;
    TEbayAPIXMLErrorParser Parser;
    explicit TParsed(const std::string& file) {
        Doc.LoadFromFile(DataFile(file));
        Parser.ParseErrors(Doc.DocumentElement());
    }
};

} // namespace

TEST(EbayAPIXMLErrorParser, RealAnswersGiveTheirCodeAndMessage) {
    struct TCase {
        const char* File;
        Code Expected;
        const char* Message;
        bool Success;
    };
    const TCase cases[] = {
        {"success_no_errors.xml", Code::prNoError, "", true},
        {"warning.xml", Code::prApiWarning,
         "Error on API call (Input data for tag <WatchList.Sort> is invalid.).", true},
        {"token_invalid.xml", Code::prTokenInvalid, "The token for using the eBay API is invalid.", false},
        {"token_expired.xml", Code::prTokenExpired, "The token for using the eBay API is no longer valid.",
         false},
        {"code_17_older_layout.xml", Code::prError17, "", false},
        {"older_layout_warning.xml", Code::prApiWarning,
         "Error on API call (Return policy details are ignored.).", true},
        {"code_16110.xml", Code::prError16110, "", false},
        {"error_no_severity.xml", Code::prApiError, "Error on API call (Internal error to the application.).",
         false},
        {"errors_only_classification.xml", Code::prApiError, "Error on API call.", false},
        {"unknown_root.xml", Code::prUnknownRoot, "The retrieved data contain no results.", false},
        {"broken_error_block.xml", Code::prErrorBlockFailed,
         "Error getting eBay results. Data may have been only partially retrieved.", false},
    };
    for (const TCase& c : cases) {
        TParsed p(c.File);
        EXPECT_EQ(p.Parser.GetResultCode(), c.Expected) << c.File;
        EXPECT_EQ(p.Parser.GetResultMessage(), c.Message) << c.File;
        EXPECT_EQ(TXMLParserResult::IsSuccess(p.Parser.GetResultCode()), c.Success) << c.File;
    }
}

TEST(EbayAPIXMLErrorParser, FieldsOfTheFirstEntryInBothLayouts) {
    TParsed newer("warning.xml");
    EXPECT_EQ(newer.Parser.ErrorCode(), 10);
    EXPECT_EQ(newer.Parser.Severity(), TEbayErrorSeverity::esWarning);
    EXPECT_EQ(newer.Parser.Classification(), TEbayErrorClassification::ecRequestError);
    EXPECT_EQ(newer.Parser.LongMessage(),
              "Input data for tag <WatchList.Sort> is invalid or missing. Default value used.");

    TParsed older("code_17_older_layout.xml");
    EXPECT_EQ(older.Parser.ErrorCode(), 17) << "the second entry (932) is ignored";
    EXPECT_EQ(older.Parser.Severity(), TEbayErrorSeverity::esError);
    EXPECT_EQ(older.Parser.Classification(), TEbayErrorClassification::ecSystemError);
    EXPECT_TRUE(older.Parser.RootRecognised()) << "\"eBay\" matches \"ebay\"";

    TParsed upper("error_no_severity.xml");
    EXPECT_TRUE(upper.Parser.RootRecognised());
    EXPECT_EQ(upper.Parser.Severity(), TEbayErrorSeverity::esError);

    TParsed bare("errors_only_classification.xml");
    EXPECT_EQ(bare.Parser.ErrorCode(), 0);
    EXPECT_EQ(bare.Parser.Classification(), TEbayErrorClassification::ecRequestError);
    EXPECT_EQ(bare.Parser.ShortMessage(), "");

    TParsed broken("broken_error_block.xml");
    EXPECT_TRUE(broken.Parser.ErrorBlockFailed());
    EXPECT_EQ(broken.Parser.ErrorCode(), 10007) << "fields read before the failure stay";
}

TEST(EbayAPIXMLErrorParser, SeverityTextsAndReuse) {
    struct TCase {
        const char* Severity;
        TEbayErrorSeverity Expected;
    };
    const TCase cases[] = {{"Warning", TEbayErrorSeverity::esWarning}, {"2", TEbayErrorSeverity::esWarning},
                           {"Error", TEbayErrorSeverity::esError},     {"1", TEbayErrorSeverity::esError},
                           {"warning", TEbayErrorSeverity::esError},   {"", TEbayErrorSeverity::esError}};
    TEbayAPIXMLErrorParser parser;
    for (const TCase& c : cases) {
        TXMLDocument doc;
        doc.LoadFromXML(
            std::string("<GetUserResponse><Errors><Error><ErrorCode>5</ErrorCode><SeverityCode> ") +
            c.Severity + " </SeverityCode></Error></Errors></GetUserResponse>");
        parser.ParseErrors(doc.DocumentElement());
        EXPECT_EQ(parser.Severity(), c.Expected) << "'" << c.Severity << "'";
    }
    TXMLDocument clean;
    clean.LoadFromXML("<getruNAMEresponse><Ack>Success</Ack></getruNAMEresponse>");
    parser.ParseErrors(clean.DocumentElement());
    EXPECT_EQ(parser.GetResultCode(), Code::prNoError) << "a second parse starts from a reset state";
    EXPECT_EQ(parser.ErrorCode(), 0);

    EXPECT_FALSE(TXMLParserResult::IsSuccess(Code::prNotEvaluated));
    EXPECT_EQ(GetParserResultMessage(Code::prApiError, "100% %s"), "Error on API call (100% %s).")
        << "eBay's text is data, not a format";

    parser.ParseErrors(TXMLNode());
    EXPECT_EQ(parser.GetResultCode(), Code::prUnknownRoot) << "no document element at all";
}

TEST(EbayAPIXMLErrorParser, NonXmlAnswersNeverReachTheParser) {
    TXMLDocument doc;
    EXPECT_THROW(doc.LoadFromFile(DataFile("not_xml.txt")), EXMLDomError);
    EXPECT_TRUE(doc.DocumentElement().IsNull());
    TEbayAPIXMLErrorParser parser;
    parser.ParseErrors(doc.DocumentElement());
    EXPECT_FALSE(TXMLParserResult::IsSuccess(parser.GetResultCode()));
}

TEST(EbayAPIXMLErrorParser, AnAckOfFailureIsAFailureWhateverItsFirstEntry) {
    const std::string warning = "<Errors><ShortMessage>Sort ignored</ShortMessage><ErrorCode>10</ErrorCode>"
                                "<SeverityCode>Warning</SeverityCode></Errors>";
    const std::string error = "<Errors><ShortMessage>Token gone</ShortMessage><ErrorCode>932</ErrorCode>"
                              "<SeverityCode>Error</SeverityCode></Errors>";
    const std::string olderWarning = "<Error><ShortMessage>Old warning</ShortMessage><Code>11</Code>"
                                     "<SeverityCode>Warning</SeverityCode></Error>";
    const std::string olderError = "<Error><ShortMessage>Old error</ShortMessage><Code>12</Code>"
                                   "<SeverityCode>Error</SeverityCode></Error>";
    struct TCase {
        const char* Caption;
        std::string Ack;
        std::string Errors;
        Code Expected;
        int ErrorCode;
        const char* Message;
    };
    const TCase cases[] = {
        {"error after a warning", "Failure", warning + error, Code::prTokenExpired, 932,
         "The token for using the eBay API is no longer valid."},
        {"older layout, error after a warning", "Failure",
         "<Errors>" + olderWarning + olderError + "</Errors>", Code::prApiError, 12,
         "Error on API call (Old error)."},
        {"only warnings", "Failure", warning, Code::prApiError, 10, "Error on API call (Sort ignored)."},
        {"no entry at all", "Failure", "", Code::prApiError, 0, "Error on API call."},
        {"letter case of the ack", "failure", warning, Code::prApiError, 10,
         "Error on API call (Sort ignored)."},
        {"a warning answer keeps its first entry", "Warning", warning + error, Code::prApiWarning, 10,
         "Error on API call (Sort ignored)."},
        {"success without entries", "Success", "", Code::prNoError, 0, ""},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Caption);
        TXMLDocument doc;
        doc.LoadFromXML("<GetMyeBayBuyingResponse><Ack>" + c.Ack + "</Ack>" + c.Errors +
                        "</GetMyeBayBuyingResponse>");
        TEbayAPIXMLErrorParser parser;
        parser.ParseErrors(doc.DocumentElement());
        EXPECT_EQ(parser.GetResultCode(), c.Expected);
        EXPECT_EQ(parser.ErrorCode(), c.ErrorCode);
        EXPECT_EQ(parser.GetResultMessage(), c.Message);
    }
}
