#include "storage/UnitIniFileClasses.h"

#include "base/UnitUtils.h"
#include "support/UnitFormatSettings.h"

TIniFileSectionBase::TIniFileSectionBase(TIniFile& iniFile, std::string sectionName)
    : TIniFileSectionBase(iniFile, std::move(sectionName), ";") {
}

TIniFileSectionBase::TIniFileSectionBase(TIniFile& iniFile, std::string sectionName,
                                         std::string listSeparator)
    : FSectionName(std::move(sectionName)), FIniFile(&iniFile), FListSeparator(std::move(listSeparator)) {
}

std::string TIniFileSectionBase::ReadString(const std::string& key, const std::string& def) const {
    return FIniFile->ReadString(FSectionName, key, def);
}

void TIniFileSectionBase::WriteString(const std::string& key, const std::string& value,
                                      const std::string& def) {
    if (SameText(value, def)) {
        FIniFile->DeleteKey(FSectionName, key);
        return;
    }
    FIniFile->WriteString(FSectionName, key, Trim(value).empty() ? def : value);
}

int TIniFileSectionBase::ReadInteger(const std::string& key, int def, int lowest, int highest) const {
    long long value;
    if (!TryStrToInt64(ReadString(key, ""), value) || value < lowest || value > highest) return def;
    return static_cast<int>(value);
}

void TIniFileSectionBase::WriteInteger(const std::string& key, int value, int def) {
    if (value == def) {
        FIniFile->DeleteKey(FSectionName, key);
        return;
    }
    FIniFile->WriteString(FSectionName, key, IntToStr(value));
}

bool TIniFileSectionBase::ReadBool(const std::string& key, bool def) const {
    const std::string text = ReadString(key, "");
    long long number;
    if (TryStrToInt64(text, number)) return number != 0;
    double real;
    if (TryStrToFloat(text, real, TFormatSettings())) return real != 0;
    if (SameText(text, "True")) return true;
    if (SameText(text, "False")) return false;
    return def;
}

void TIniFileSectionBase::WriteBool(const std::string& key, bool value, bool def) {
    if (value == def) {
        FIniFile->DeleteKey(FSectionName, key);
        return;
    }
    FIniFile->WriteString(FSectionName, key, value ? "1" : "0");
}
