// The login data and proxy credentials files are read from the gadget directory, whatever they hold.
#include "storage/UnitKovaeBayLogin.h"
#include "storage/UnitProxyDat.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

// Frames and encrypts arbitrary plaintext, so that inputs reach the field reader behind the cipher.
class TRawPlaintext : public TEncryptStreamBase {
public:
    explicit TRawPlaintext(std::string plain) : FPlain(std::move(plain)) {}
    void WriteFields() override { ReplaceContent(FPlain); }
    void WriteFieldValues(TValueWriter&) override {}
    void ReadFieldValues(TValueReader&) override {}

private:
    std::string FPlain;
};

// Loads the file into a container; what loads must save and load again to the same values.
template <typename TContainer, typename TValues>
void LoadAndRoundTrip(const std::string& file, TValues values) {
    TContainer container;
    try {
        TMemoryStream source(file);
        container.LoadFromStreamEncrypted(source);
    } catch (const Exception&) {
        return;
    }
    TMemoryStream saved;
    container.SaveToStreamEncrypted(saved);
    saved.SetPosition(0);
    TContainer reloaded;
    reloaded.LoadFromStreamEncrypted(saved);
    if (values(container) != values(reloaded)) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    std::string file(reinterpret_cast<const char*>(data) + 1, size - 1);
    // The first byte chooses: the rest is a whole file, or a plaintext to be put into one.
    if (data[0] & 1) {
        TRawPlaintext raw(file);
        TMemoryStream framed;
        try {
            raw.SaveToStreamEncrypted(framed);
        } catch (const Exception&) {
            return 0; // longer than a container may be
        }
        file = framed.Bytes();
    }
    LoadAndRoundTrip<TEncryptStreamProxy>(file, [](const TEncryptStreamProxy& c) {
        return c.UserName + '\n' + std::to_string(c.UserName.size()) + c.Password;
    });
    LoadAndRoundTrip<TEncryptStreamEbayLoginData>(file, [](const TEncryptStreamEbayLoginData& c) {
        return std::to_string(c.UserName.size()) + c.UserName + std::to_string(c.Password.size()) +
               c.Password + c.Token;
    });
    return 0;
}
