#pragma once
// The application data: the product's values (API keys, server address, links) read once from
// "KovaDat.dat" into one process-wide object that every thread reads without a lock.

#include "items/UnitParserBaseXML.h"
#include "storage/UnitKovaDatFile.h"

#include <exception>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Names and shown values of fields, in the order the classes declare them; booleans show as true/false.
using TDatFieldList = std::vector<std::pair<std::string, std::string>>;

// The values of the element "COMMON".
class TDatCommon : public TParserBaseXML {
public:
    TDatCommon() { SetDefaults(); }

    std::string LINKFETCHTOKENSIGNIN;
    std::string TRACKER;
    std::string UPDATESERVER;
    bool USETRACKER;
    std::string LINKONLINEHELP;
    std::string LINKHOME;
    std::string LINKDOWNLOADPAGE;
    std::string FILENAMEPRIVACYSTATEMENT;
    std::string FILENAMELICENCEAGREEMENT;

    void SetDefaults();
    // Reads every key below the section element; a missing or empty key reads as "", false or 0.
    void ReadFrom(const TXMLNode& section);
    TDatFieldList Fields() const;
};

// The values of the element "EBAYAPI".
class TDatEbayAPI : public TParserBaseXML {
public:
    TDatEbayAPI() { SetDefaults(); }

    bool APIActive;
    int APICountRetryPostOnFail;
    std::string APIServerSandbox;
    int APISiteID;
    std::string APIAuthorizationToken;
    std::string APICertID;
    std::string APIAppID;
    std::string APIDevID;
    std::string APIServerProduction;

    void SetDefaults();
    void ReadFrom(const TXMLNode& section);
    TDatFieldList Fields() const;
};

// The application data of one gadget directory. Consumers get it read-only through GadgetDat().
class TKovaGadgetDat {
public:
    static constexpr const char* DefaultFileName = "KovaDat.dat";

    explicit TKovaGadgetDat(std::string directory) : FDirectory(std::move(directory)) {}

    // Reads a data file's bytes: the container is opened with the pass phrase (a blank pass phrase takes the
    // bytes as plain XML), then the sections below the document element are read. Raises the container's,
    // the inflater's or the XML parser's error.
    void LoadFromBytes(std::string bytes, std::string_view passPhrase = KovaDatPassPhrase);
    void LoadFromFile(const std::string& path, std::string_view passPhrase = KovaDatPassPhrase);

    const std::string& Directory() const { return FDirectory; }
    const TDatCommon& Common() const { return FCommon; }
    const TDatEbayAPI& EbayAPI() const { return FEbayAPI; }
    // The fields of "COMMON", then those of "EBAYAPI".
    TDatFieldList Fields() const;

private:
    std::string FDirectory;
    TDatCommon FCommon;
    TDatEbayAPI FEbayAPI;
};

// Replaces the process-wide object by one loaded from directory + "KovaDat.dat", or from fileName when that
// is not blank. A missing file is logged as an error and raised; after any failure GadgetDat() is null.
// Main thread only, while no worker reads the object.
void LoadGadgetDat(const std::string& directory, const std::string& fileName,
                   std::string_view passPhrase = KovaDatPassPhrase);
// The path LoadGadgetDat reads for these arguments.
std::string GadgetDatPath(const std::string& directory, const std::string& fileName);
// What the user reads when LoadGadgetDat failed with error for the file at path: the file, why it could
// not be read, and what to do about it.
std::string GadgetDatFailureText(const std::string& path, const std::exception& error);
// The process-wide object, or null before loading, after a failed load and after FreeGadgetDat.
const TKovaGadgetDat* GadgetDat();
void FreeGadgetDat();

// One "NAME=value" line per field; control characters in a value are shown as \n, \r, \t or \xHH so that
// every field stays on its own line.
std::string GadgetDatLines(const TKovaGadgetDat& dat);
