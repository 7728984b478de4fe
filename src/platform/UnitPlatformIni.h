#pragma once
// The ini file layer: the line format of private-profile files, read on every call and written through key by
// key, each change replacing the whole file atomically.

#include "base/UnitExceptions.h"

#include <mutex>
#include <string>

KOVA_DECLARE_EXCEPTION(EIniFileException, Exception);

// One ini file on disk. Section and key names match without regard to ASCII letter case; the first section of
// a name and the first key of a name in it are the ones read and written.
class TIniFile {
public:
    // The longest value a read returns; longer stored values are cut.
    static constexpr size_t MaxValueLength = 2047;

    explicit TIniFile(std::string fileName) : FFileName(std::move(fileName)) {}
    virtual ~TIniFile() = default;

    const std::string& FileName() const { return FFileName; }

    // The stored value, or def when the file, the section or the key is missing. Blanks around the value are
    // dropped and one pair of enclosing quotes is removed, as the line format has it.
    std::string ReadString(const std::string& section, const std::string& ident,
                           const std::string& def) const;
    bool ValueExists(const std::string& section, const std::string& ident) const;
    // Stores the value so that ReadString returns it unchanged. Raises EIniFileException "Unable to write in
    // %s" when the file cannot be replaced or the value cannot be stored in one line; the file then stays as
    // it was.
    void WriteString(const std::string& section, const std::string& ident, const std::string& value);
    // Removes the key's line; a failure is ignored and a missing key writes nothing.
    void DeleteKey(const std::string& section, const std::string& ident);

private:
    std::string FFileName;
    // Serialises read-modify-write cycles of this process so that two writers cannot lose each other's keys.
    std::mutex FWriteLock;
};
