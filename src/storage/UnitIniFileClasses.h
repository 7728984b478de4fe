#pragma once
// Typed access to one section of an ini file, with the rule that a value equal to its default is not stored.

#include "platform/UnitPlatformIni.h"

#include <string>

// Base of all section objects: reads and writes keys of one section of an ini file it does not own.
class TIniFileSectionBase {
public:
    TIniFileSectionBase(TIniFile& iniFile, std::string sectionName);
    virtual ~TIniFileSectionBase() = default;
    TIniFileSectionBase(const TIniFileSectionBase&) = delete;
    TIniFileSectionBase& operator=(const TIniFileSectionBase&) = delete;

    const std::string& SectionName() const { return FSectionName; }
    TIniFile& IniFile() const { return *FIniFile; }
    const std::string& ListSeparator() const { return FListSeparator; }

    std::string ReadString(const std::string& key, const std::string& def) const;
    // A value equal to def (ignoring letter case) deletes the key; a value of blanks only stores def.
    void WriteString(const std::string& key, const std::string& value, const std::string& def);
    // Decimal, or hexadecimal after 0x, 0X or $; def when missing, not a number or outside lowest..highest.
    int ReadInteger(const std::string& key, int def, int lowest, int highest) const;
    void WriteInteger(const std::string& key, int value, int def);
    // A number is true when not zero; "True" and "False" in any letter case; anything else gives def.
    bool ReadBool(const std::string& key, bool def) const;
    void WriteBool(const std::string& key, bool value, bool def);

protected:
    TIniFileSectionBase(TIniFile& iniFile, std::string sectionName, std::string listSeparator);

    std::string FSectionName;
    TIniFile* FIniFile;
    std::string FListSeparator;
};
