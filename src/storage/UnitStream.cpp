#include "storage/UnitStream.h"

#include "base/UnitExceptions.h"
#include "base/UnitUtils.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

constexpr const char* SReadError = "Stream read error";
constexpr const char* SWriteError = "Stream write error";

// Wide strings of files written elsewhere become UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Utf16LEToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    auto unit = [&](size_t i) {
        return static_cast<uint32_t>(static_cast<uint8_t>(bytes[2 * i])) |
               static_cast<uint32_t>(static_cast<uint8_t>(bytes[2 * i + 1])) << 8;
    };
    const size_t count = bytes.size() / 2;
    for (size_t i = 0; i < count; ++i) {
        uint32_t cp = unit(i);
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < count && unit(i + 1) >= 0xDC00 && unit(i + 1) <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (unit(i + 1) - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        char utf8[4];
        out.append(utf8, EncodeUtf8(cp, utf8));
    }
    return out;
}

bool IsSevenBit(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<uint8_t>(c) < 0x80; });
}

std::string HexByte(uint8_t b) {
    static const char digits[] = "0123456789ABCDEF";
    return std::string("0x") + digits[b >> 4] + digits[b & 15];
}

} // namespace

void TStream::ReadBuffer(void* buffer, size_t count) {
    if (count != 0 && Read(buffer, count) != count) throw EReadError(SReadError);
}

void TStream::WriteBuffer(const void* buffer, size_t count) {
    if (count != 0 && Write(buffer, count) != count) throw EWriteError(SWriteError);
}

std::string TStream::ReadAllBytes() {
    SetPosition(0);
    const int64_t size = Size();
    std::string bytes(static_cast<size_t>(size), '\0');
    ReadBuffer(bytes.data(), bytes.size());
    return bytes;
}

void TStream::ReplaceContent(std::string_view bytes) {
    SetSize(0);
    SetPosition(0);
    WriteBytes(bytes);
    SetPosition(0);
}

size_t TMemoryStream::Read(void* buffer, size_t count) {
    if (FPosition >= FMemory.size()) return 0;
    const size_t n = std::min(count, FMemory.size() - FPosition);
    std::memcpy(buffer, FMemory.data() + FPosition, n);
    FPosition += n;
    return n;
}

size_t TMemoryStream::Write(const void* buffer, size_t count) {
    if (count == 0) return 0;
    if (FPosition + count > FMemory.size()) FMemory.resize(FPosition + count);
    std::memcpy(FMemory.data() + FPosition, buffer, count);
    FPosition += count;
    return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
    int64_t base = 0;
    if (origin == TSeekOrigin::soCurrent) base = static_cast<int64_t>(FPosition);
    if (origin == TSeekOrigin::soEnd) base = static_cast<int64_t>(FMemory.size());
    FPosition = static_cast<size_t>(std::max<int64_t>(0, base + offset));
    return static_cast<int64_t>(FPosition);
}

void TMemoryStream::SetSize(int64_t newSize) {
    FMemory.resize(static_cast<size_t>(std::max<int64_t>(0, newSize)));
    FPosition = std::min(FPosition, FMemory.size());
}

void TMemoryStream::Clear() {
    FMemory.clear();
    FPosition = 0;
}

TValueWriter::TValueWriter(TStream& stream, size_t bufferSize) : FStream(stream), FBuffer(bufferSize) {
}

void TValueWriter::Write(const void* buffer, size_t count) {
    const auto* p = static_cast<const uint8_t*>(buffer);
    while (count > 0) {
        if (FBufPos == FBuffer.size()) FlushBuffer();
        const size_t n = std::min(count, FBuffer.size() - FBufPos);
        std::memcpy(FBuffer.data() + FBufPos, p, n);
        FBufPos += n;
        p += n;
        count -= n;
    }
}

void TValueWriter::FlushBuffer() {
    FStream.WriteBuffer(FBuffer.data(), FBufPos);
    FBufPos = 0;
}

void TValueWriter::WriteValue(TValueType value) {
    const uint8_t tag = value;
    Write(&tag, 1);
}

void TValueWriter::WriteInteger(int32_t value) {
    if (value >= -128 && value <= 127) {
        WriteValue(vaInt8);
        const int8_t v = static_cast<int8_t>(value);
        Write(&v, 1);
    } else if (value >= -32768 && value <= 32767) {
        WriteValue(vaInt16);
        const uint16_t v = static_cast<uint16_t>(value);
        const uint8_t bytes[2] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
        Write(bytes, 2);
    } else {
        WriteValue(vaInt32);
        const uint32_t v = static_cast<uint32_t>(value);
        const uint8_t bytes[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                                  static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
        Write(bytes, 4);
    }
}

void TValueWriter::WriteString(std::string_view value) {
    if (value.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
        throw EWriteError(SWriteError);
    const uint32_t length = static_cast<uint32_t>(value.size());
    if (IsSevenBit(value) && length <= 255) {
        WriteValue(vaString);
        const uint8_t l = static_cast<uint8_t>(length);
        Write(&l, 1);
    } else {
        // Text here is already UTF-8, so the UTF-8 form of a non-ASCII string is its own bytes.
        WriteValue(IsSevenBit(value) ? vaLString : vaUTF8String);
        const uint8_t bytes[4] = {static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8),
                                  static_cast<uint8_t>(length >> 16), static_cast<uint8_t>(length >> 24)};
        Write(bytes, 4);
    }
    Write(value.data(), value.size());
}

TValueReader::TValueReader(TStream& stream, size_t bufferSize) : FStream(stream), FBuffer(bufferSize) {
}

void TValueReader::FillBuffer() {
    FBufPos = 0;
    FBufEnd = FStream.Read(FBuffer.data(), FBuffer.size());
    if (FBufEnd == 0) throw EReadError(SReadError);
}

void TValueReader::Read(void* buffer, size_t count) {
    auto* p = static_cast<uint8_t*>(buffer);
    while (count > 0) {
        if (FBufPos == FBufEnd) FillBuffer();
        const size_t n = std::min(count, FBufEnd - FBufPos);
        std::memcpy(p, FBuffer.data() + FBufPos, n);
        FBufPos += n;
        p += n;
        count -= n;
    }
}

std::string TValueReader::ReadBytes(size_t count) {
    // Grows with the bytes actually read, so a damaged length cannot make us allocate gigabytes.
    std::string out;
    while (out.size() < count) {
        if (FBufPos == FBufEnd) FillBuffer();
        const size_t n = std::min(count - out.size(), FBufEnd - FBufPos);
        out.append(reinterpret_cast<const char*>(FBuffer.data() + FBufPos), n);
        FBufPos += n;
    }
    return out;
}

void TValueReader::FlushBuffer() {
    FStream.Seek(-static_cast<int64_t>(FBufEnd - FBufPos), TSeekOrigin::soCurrent);
    FBufPos = 0;
    FBufEnd = 0;
}

TValueType TValueReader::ReadValue() {
    uint8_t tag;
    Read(&tag, 1);
    return static_cast<TValueType>(tag);
}

TValueType TValueReader::NextValue() {
    const TValueType tag = ReadValue();
    --FBufPos;
    return tag;
}

void TValueReader::InvalidValue(uint8_t tag, const char* what) {
    throw EReadError("Invalid stream format: value tag " + HexByte(tag) + " where " + what + " was expected");
}

void TValueReader::CheckValue(TValueType expected, const char* what) {
    const TValueType tag = ReadValue();
    if (tag != expected) InvalidValue(tag, what);
}

void TValueReader::ReadListBegin() {
    CheckValue(vaList, "a list start");
}

void TValueReader::ReadListEnd() {
    CheckValue(vaNull, "a list end");
}

bool TValueReader::EndOfList() {
    return NextValue() == vaNull;
}

int32_t TValueReader::ReadInteger() {
    const TValueType tag = ReadValue();
    uint8_t b[4] = {};
    switch (tag) {
    case vaInt8:
        Read(b, 1);
        return static_cast<int8_t>(b[0]);
    case vaInt16:
        Read(b, 2);
        return static_cast<int16_t>(static_cast<uint16_t>(b[0] | b[1] << 8));
    case vaInt32:
        Read(b, 4);
        return static_cast<int32_t>(static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
                                    static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24);
    default:
        InvalidValue(tag, "an integer");
    }
}

std::string TValueReader::ReadString() {
    const TValueType tag = ReadValue();
    uint8_t b[4] = {};
    switch (tag) {
    case vaString:
        Read(b, 1);
        return ReadBytes(b[0]);
    case vaLString:
    case vaUTF8String:
    case vaWString: {
        Read(b, 4);
        const uint64_t count = static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
                               static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
        if (tag != vaWString) return ReadBytes(count);
        return Utf16LEToUtf8(ReadBytes(count * 2));
    }
    default:
        InvalidValue(tag, "a string");
    }
}
