// The application data reader takes a file that ships beside the gadget and could be replaced by anyone who
// can write to the gadget directory. Each input is read twice: as a container under the fixed pass phrase
// (cipher layer, digest, inflate) and, with a blank pass phrase, as the plain XML payload.
#include "storage/UnitKovaDat.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    for (const char* passPhrase : {KovaDatPassPhrase, ""}) {
        TKovaGadgetDat dat("");
        try {
            dat.LoadFromBytes(bytes, passPhrase);
            (void)GadgetDatLines(dat);
        } catch (const Exception&) {
            // The system's own errors are the expected outcome of bad input; anything else escapes and fails.
        }
    }
    return 0;
}
