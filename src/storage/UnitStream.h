#pragma once
// Byte streams with a position, and the tagged value encoding that the encrypted containers are made of.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

// A sequence of bytes with a current position; reads and writes happen at the position.
class TStream {
public:
    virtual ~TStream() = default;

    // Reads up to count bytes; returns how many were read (0 at the end).
    virtual size_t Read(void* buffer, size_t count) = 0;
    // Writes count bytes, growing the stream when needed; returns how many were written.
    virtual size_t Write(const void* buffer, size_t count) = 0;
    // Moves the position (never before 0) and returns the new one.
    virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
    virtual int64_t Size() = 0;
    // Truncates or extends (with zero bytes); the position stays unless it lay behind the new end.
    virtual void SetSize(int64_t newSize) = 0;

    int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
    void SetPosition(int64_t position) { Seek(position, TSeekOrigin::soBeginning); }

    // Reads exactly count bytes or raises EReadError.
    void ReadBuffer(void* buffer, size_t count);
    // Writes exactly count bytes or raises EWriteError.
    void WriteBuffer(const void* buffer, size_t count);
    void WriteBytes(std::string_view bytes) { WriteBuffer(bytes.data(), bytes.size()); }
    // Everything from position 0 to the end; the position is then at the end.
    std::string ReadAllBytes();
    // Makes the stream hold exactly these bytes, positioned at 0.
    void ReplaceContent(std::string_view bytes);
};

// A growable stream in memory.
class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    explicit TMemoryStream(std::string bytes) : FMemory(std::move(bytes)) {}

    size_t Read(void* buffer, size_t count) override;
    size_t Write(const void* buffer, size_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() override { return static_cast<int64_t>(FMemory.size()); }
    void SetSize(int64_t newSize) override;

    // Empties the stream; position 0.
    void Clear();
    const std::string& Bytes() const { return FMemory; }

private:
    std::string FMemory;
    size_t FPosition = 0;
};

// Tags of the tagged value encoding.
enum TValueType : uint8_t {
    vaNull = 0x00, // end of list
    vaList = 0x01,
    vaInt8 = 0x02,
    vaInt16 = 0x03,
    vaInt32 = 0x04,
    vaString = 0x06,     // 1 length byte
    vaLString = 0x0C,    // 4-byte length
    vaWString = 0x12,    // 4-byte count of UTF-16 code units; read only
    vaUTF8String = 0x14, // 4-byte byte length
};

// Writes tagged values to a stream through a staging buffer. The buffer reaches the stream only on
// FlushBuffer: callers that mix raw stream writes with values flush first so that the bytes land in order.
class TValueWriter {
public:
    explicit TValueWriter(TStream& stream, size_t bufferSize = 4096);
    TValueWriter(const TValueWriter&) = delete;
    TValueWriter& operator=(const TValueWriter&) = delete;

    void WriteListBegin() { WriteValue(vaList); }
    void WriteListEnd() { WriteValue(vaNull); }
    // The smallest of the three integer tags that holds the value.
    void WriteInteger(int32_t value);
    // 7-bit text as a short or long string, anything else as UTF-8; no terminator.
    void WriteString(std::string_view value);
    void WriteValue(TValueType value);
    void Write(const void* buffer, size_t count);
    void FlushBuffer();

private:
    TStream& FStream;
    std::vector<uint8_t> FBuffer;
    size_t FBufPos = 0;
};

// Reads tagged values from a stream. It reads ahead in blocks; FlushBuffer gives the unused bytes back by
// moving the stream's position to right behind the last value read. Wrong tags and missing bytes raise
// EReadError.
class TValueReader {
public:
    explicit TValueReader(TStream& stream, size_t bufferSize = 4096);
    TValueReader(const TValueReader&) = delete;
    TValueReader& operator=(const TValueReader&) = delete;

    void ReadListBegin();
    void ReadListEnd();
    // True when the next tag ends a list; consumes nothing.
    bool EndOfList();
    int32_t ReadInteger();
    // Any of the four string tags; wide strings come back as UTF-8.
    std::string ReadString();
    TValueType ReadValue();
    TValueType NextValue();
    void Read(void* buffer, size_t count);
    void FlushBuffer();

private:
    void CheckValue(TValueType expected, const char* what);
    [[noreturn]] void InvalidValue(uint8_t tag, const char* what);
    std::string ReadBytes(size_t count);
    void FillBuffer();

    TStream& FStream;
    std::vector<uint8_t> FBuffer;
    size_t FBufPos = 0;
    size_t FBufEnd = 0;
};
