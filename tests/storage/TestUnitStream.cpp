#include "base/UnitExceptions.h"
#include "storage/UnitStream.h"

#include <gtest/gtest.h>
#include <string>

namespace {

std::string Hex(std::string_view bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        if (!out.empty()) out += ' ';
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

template <typename F> std::string Written(F write) {
    TMemoryStream stream;
    TValueWriter writer(stream);
    write(writer);
    writer.FlushBuffer();
    return stream.Bytes();
}

std::string ReadError(std::string bytes, void (*read)(TValueReader&)) {
    TMemoryStream stream(std::move(bytes));
    TValueReader reader(stream);
    try {
        read(reader);
    } catch (const EReadError& e) {
        return e.what();
    }
    return "no error";
}

} // namespace

TEST(UnitStream, IntegersTakeTheSmallestTagAndReadBack) {
    const std::pair<int32_t, const char*> cases[] = {
        {0, "02 00"},
        {127, "02 7F"},
        {-128, "02 80"},
        {128, "03 80 00"},
        {-129, "03 7F FF"},
        {32767, "03 FF 7F"},
        {-32768, "03 00 80"},
        {32768, "04 00 80 00 00"},
        {-32769, "04 FF 7F FF FF"},
        {INT32_MIN, "04 00 00 00 80"},
        {INT32_MAX, "04 FF FF FF 7F"},
    };
    for (const auto& [value, bytes] : cases) {
        const std::string written = Written([&](TValueWriter& w) { w.WriteInteger(value); });
        EXPECT_EQ(Hex(written), bytes) << value;
        TMemoryStream stream(written);
        TValueReader reader(stream);
        EXPECT_EQ(reader.ReadInteger(), value);
    }
}

TEST(UnitStream, StringsTakeShortLongOrUtf8TagsAndReadBack) {
    const std::string s255(255, 'x'), s256(256, 'y'), umlaut = "M\xC3\xBCller",
                                                      longUmlaut = std::string(300, 'z') + "\xC3\xA9";
    struct Case {
        std::string Value;
        std::string Head;
    } cases[] = {
        {"", "06 00"},
        {"abc", "06 03 61 62 63"},
        {s255, "06 FF 78"},
        {s256, "0C 00 01 00 00 79"},
        {umlaut, "14 07 00 00 00 4D C3 BC 6C 6C 65 72"},
        {longUmlaut, "14 2E 01 00 00 7A"},
    };
    for (const auto& c : cases) {
        const std::string written = Written([&](TValueWriter& w) { w.WriteString(c.Value); });
        EXPECT_EQ(Hex(written).substr(0, c.Head.size()), c.Head) << c.Value.size();
        EXPECT_EQ(written.size(), (c.Head[1] == '6' ? 2u : 5u) + c.Value.size());
        TMemoryStream stream(written);
        TValueReader reader(stream);
        EXPECT_EQ(reader.ReadString(), c.Value);
    }

    // Wide strings of other writers: "Hé", a pair for U+1F600 and a lone surrogate.
    TMemoryStream wide(std::string("\x12\x05\x00\x00\x00"
                                   "H\x00\xE9\x00\x3D\xD8\x00\xDE\x00\xD8",
                                   15));
    TValueReader reader(wide);
    EXPECT_EQ(reader.ReadString(), "H\xC3\xA9\xF0\x9F\x98\x80\xEF\xBF\xBD");
}

TEST(UnitStream, WrongTagsAndMissingBytesAreReadErrors) {
    EXPECT_EQ(ReadError("\x06\x01x", [](TValueReader& r) { r.ReadInteger(); }),
              "Invalid stream format: value tag 0x06 where an integer was expected");
    EXPECT_EQ(ReadError("\x02\x01", [](TValueReader& r) { r.ReadString(); }),
              "Invalid stream format: value tag 0x02 where a string was expected");
    EXPECT_EQ(ReadError("\x02", [](TValueReader& r) { r.ReadListBegin(); }),
              "Invalid stream format: value tag 0x02 where a list start was expected");
    EXPECT_EQ(ReadError("\x07\x01", [](TValueReader& r) { r.ReadString(); }),
              "Invalid stream format: value tag 0x07 where a string was expected");

    EXPECT_EQ(ReadError("", [](TValueReader& r) { r.ReadListBegin(); }), "Stream read error");
    EXPECT_EQ(ReadError("\x04\x01\x02", [](TValueReader& r) { r.ReadInteger(); }), "Stream read error");
    EXPECT_EQ(ReadError("\x06\x05"
                        "abc",
                        [](TValueReader& r) { r.ReadString(); }),
              "Stream read error");
    // A length near 2 GB over a few bytes fails on the missing bytes, not on memory.
    EXPECT_EQ(
        ReadError("\x0C\xFF\xFF\xFF\x7F" + std::string(5000, 'a'), [](TValueReader& r) { r.ReadString(); }),
        "Stream read error");
    EXPECT_EQ(ReadError("\x12\xFF\xFF\xFF\xFF"
                        "ab",
                        [](TValueReader& r) { r.ReadString(); }),
              "Stream read error");
}

TEST(UnitStream, BuffersKeepBytesInOrderAroundRawAccess) {
    // Values staged beyond one buffer's worth, then read back through a reader that reads ahead.
    const std::string big(10000, 'q');
    TMemoryStream stream;
    stream.WriteBytes("HEAD");
    TValueWriter writer(stream);
    writer.WriteListBegin();
    writer.WriteString(big);
    writer.WriteInteger(70000);
    EXPECT_EQ(stream.Size(), 4 + 2 * 4096) << "only whole buffers reach the stream before a flush";
    writer.WriteListEnd();
    writer.FlushBuffer();
    stream.WriteBytes("TAIL");
    EXPECT_EQ(stream.Size(), 4 + 1 + 5 + 10000 + 5 + 1 + 4);

    stream.SetPosition(4);
    TValueReader reader(stream);
    reader.ReadListBegin();
    EXPECT_FALSE(reader.EndOfList());
    EXPECT_EQ(reader.ReadString(), big);
    EXPECT_EQ(reader.ReadInteger(), 70000);
    EXPECT_TRUE(reader.EndOfList());
    reader.ReadListEnd();
    reader.FlushBuffer();
    EXPECT_EQ(stream.Position(), stream.Size() - 4) << "the read-ahead is given back";
    char tail[4];
    stream.ReadBuffer(tail, 4);
    EXPECT_EQ(std::string(tail, 4), "TAIL");
    EXPECT_THROW(stream.ReadBuffer(tail, 1), EReadError);
}
