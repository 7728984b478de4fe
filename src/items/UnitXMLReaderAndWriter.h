#pragma once
// The local item file: an XML document whose root "Reminder" holds one "Auction" element per item, read into
// and written from a list of auction items.

#include "items/UnitXMLDom.h"

#include <memory>
#include <string>

class TResultList;
class TParserBaseXML;
class TWriterBaseXML;
class TSearchResultAuctionDetails;

// The document of one load or save: opens an existing file, or starts an empty one for writing.
class TXMLReaderAndWriter {
public:
    TXMLReaderAndWriter();
    virtual ~TXMLReaderAndWriter();
    TXMLReaderAndWriter(const TXMLReaderAndWriter&) = delete;
    TXMLReaderAndWriter& operator=(const TXMLReaderAndWriter&) = delete;

    // Loads the file into Document; false when it is missing or cannot be read or parsed.
    virtual bool ReadList(const std::string& path, TResultList& list);
    // Starts Document afresh as an empty item file; the file itself is only replaced when a save succeeds.
    virtual void WriteList(const std::string& path, TResultList& list);

    TXMLDocument& Document() { return *FDocument; }
    TXMLNode Root() const { return FRoot; }

protected:
    std::unique_ptr<TXMLDocument> FDocument;
    TXMLNode FRoot;
};

// Reads every "Auction" element of the file into items and writes a whole list of items.
class TXMLReaderAndWriterRemindList : public TXMLReaderAndWriter {
public:
    // Appends the items of the file to the list (which is not cleared). An element that cannot be read as an
    // item is skipped. False, the list unchanged, when the file is missing or no XML. A file in the form
    // WriteList writes is read straight from its text, and Document stays empty; any other goes through
    // ReadListFromDocument, with the same result.
    bool ReadList(const std::string& path, TResultList& list) override;
    // ReadList through the document, whatever the form of the file.
    bool ReadListFromDocument(const std::string& path, TResultList& list);
    // Replaces the file with every item of the list, which must be a TDetailsList. Errors pass to the
    // caller; the previous file stays whole then.
    void WriteList(const std::string& path, TResultList& list) override;

private:
    static void ReadAuction(TParserBaseXML& reader, TXMLNode auction, TSearchResultAuctionDetails& item);
    // Appends the item's Auction element to the file's text, its values in the writer's formats.
    static void WriteAuction(TWriterBaseXML& writer, std::string& out,
                             const TSearchResultAuctionDetails& item);
};
