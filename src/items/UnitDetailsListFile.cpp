// TDetailsList's load and save: they go through the local item file's reader and writer, which sit above
// the lists (UnitXMLReaderAndWriter reads into and writes from a TDetailsList), so they are defined here and
// not in UnitResultLst.cpp.

#include "items/UnitResultLst.h"
#include "items/UnitXMLReaderAndWriter.h"

bool TDetailsList::LoadFromFile(const std::string& path) {
    TXMLReaderAndWriterRemindList reader;
    return reader.ReadList(path, *this);
}

void TDetailsList::SaveToFile(const std::string& path) {
    TResultList::SaveToFile(path);
    TXMLReaderAndWriterRemindList writer;
    writer.WriteList(path, *this);
}
