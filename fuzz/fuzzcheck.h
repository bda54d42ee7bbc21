// Helpers shared by the fuzz targets: a property check, an input header reader and small
// references written apart from the code under test, so a property never checks it against itself.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A violated property is a crash for libFuzzer: it keeps the input as crash-<sha1>.
#define FUZZ_CHECK(cond)                                                                                               \
    do {                                                                                                               \
        if (!(cond)) {                                                                                                 \
            std::fprintf(stderr, "%s:%d: property violated: %s\n", __FILE__, __LINE__, #cond);                         \
            __builtin_trap();                                                                                          \
        }                                                                                                              \
    } while (0)

namespace fuzzref {

// Fixed fields from the front of the input; past its end they read as 0, so every input is valid.
class Header
{
public:
    Header(const std::uint8_t *data, std::size_t size)
        : data_(data)
        , size_(size)
    { }
    std::uint8_t u8() { return pos_ < size_ ? data_[pos_++] : (++pos_, 0); }
    std::uint16_t u16() { return static_cast<std::uint16_t>(u8() << 8 | u8()); } // high byte first
    std::uint32_t u32() { return std::uint32_t(u16()) << 16 | u16(); }
    std::string_view rest() const
    {
        return pos_ >= size_ ? std::string_view() : std::string_view(reinterpret_cast<const char *>(data_) + pos_, size_ - pos_);
    }

private:
    const std::uint8_t *data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

inline bool isHex(unsigned char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// Value of a hex digit of either case; only called on digits.
inline unsigned hexValue(unsigned char c)
{
    return c <= '9' ? c - '0' : c <= 'F' ? c - 'A' + 10u : c - 'a' + 10u;
}

// The record codec's reading of a pair: a non-hex character counts by its code, low 8 bits kept.
inline std::uint8_t codecPair(unsigned char hi, unsigned char lo)
{
    const auto digit = [](unsigned char c) { return isHex(c) ? hexValue(c) : unsigned(c); };
    return static_cast<std::uint8_t>((digit(hi) * 16 + digit(lo)) & 255);
}

// x / 2 rounded to the nearest whole number, a half going to the even neighbour.
inline std::size_t halfToEven(std::size_t x)
{
    return x % 2 == 0 || (x / 2) % 2 == 0 ? x / 2 : x / 2 + 1;
}

// CRC-16/MODBUS bit by bit.
inline std::uint16_t crcModbus(const std::uint8_t *p, std::size_t n)
{
    unsigned r = 0xFFFF;
    for (std::size_t i = 0; i < n; ++i) {
        r ^= p[i];
        for (int bit = 0; bit < 8; ++bit)
            r = (r & 1u) ? (r >> 1) ^ 0xA001u : r >> 1;
    }
    return static_cast<std::uint16_t>(r);
}

inline void appendHex(std::string &out, std::uint8_t b)
{
    out.push_back("0123456789ABCDEF"[b >> 4]);
    out.push_back("0123456789ABCDEF"[b & 15]);
}

// A frame as the target reads it: ':', letter, bytes and their CRC (low byte first), ';'.
inline std::string frame(char letter, const std::uint8_t *bytes, std::size_t n)
{
    std::string f{':', letter};
    for (std::size_t i = 0; i < n; ++i)
        appendHex(f, bytes[i]);
    const std::uint16_t crc = crcModbus(bytes, n);
    appendHex(f, static_cast<std::uint8_t>(crc & 255));
    appendHex(f, static_cast<std::uint8_t>(crc >> 8));
    return f + ';';
}

// The lines of a file: CR or CR LF ends a line (and LF too when `anyEnd`), a terminator at the
// very end adds no empty line.
template <class Out> void splitLines(std::string_view bytes, Out &out, bool anyEnd = false)
{
    std::string line;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] != '\r' && !(anyEnd && bytes[i] == '\n')) {
            line.push_back(bytes[i]);
            continue;
        }
        out.push_back(line);
        line.clear();
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
            ++i;
    }
    if (!line.empty())
        out.push_back(line);
}

// Bytes at consecutive addresses from `address`.
struct Run
{
    std::uint64_t address;
    std::string bytes;
};

// One Intel HEX record line.
inline std::string hexRecord(std::uint8_t type, std::uint16_t offset, std::string_view data)
{
    std::string r = ":";
    unsigned sum = 0;
    auto put = [&](std::uint8_t b) { appendHex(r, b), sum += b; };
    put(std::uint8_t(data.size()));
    put(std::uint8_t(offset >> 8));
    put(std::uint8_t(offset));
    put(type);
    for (const char c : data)
        put(std::uint8_t(c));
    appendHex(r, std::uint8_t(-sum));
    return r;
}

// A memory image as srec_cat -intel -obs=16 writes it: runs in ascending order, none touching the
// next, each cut into records of at most 16 bytes that never go past a multiple of 1792; a type 04
// record whenever the upper address half differs from the last one said; the start address; the end.
inline std::vector<std::string> intelHexImage(const std::vector<Run> &runs, std::optional<std::uint32_t> start)
{
    std::vector<std::string> lines;
    std::optional<std::uint16_t> upper;
    for (const Run &run : runs) {
        for (std::size_t at = 0; at < run.bytes.size();) {
            const std::uint64_t address = run.address + at;
            std::size_t n = std::min<std::size_t>(16, run.bytes.size() - at);
            n = std::min<std::uint64_t>(n, 1792 - address % 1792);
            if (upper != std::uint16_t(address >> 16)) {
                upper = std::uint16_t(address >> 16);
                const char half[2] = {char(*upper >> 8), char(*upper & 255)};
                lines.push_back(hexRecord(4, 0, std::string_view(half, 2)));
            }
            lines.push_back(hexRecord(0, std::uint16_t(address), std::string_view(run.bytes).substr(at, n)));
            at += n;
        }
    }
    if (start) {
        const char bytes[4]
            = {char(*start >> 24), char(*start >> 16 & 255), char(*start >> 8 & 255), char(*start & 255)};
        lines.push_back(hexRecord(5, 0, std::string_view(bytes, 4)));
    }
    lines.push_back(hexRecord(1, 0, {}));
    return lines;
}

// A pseudo-random sequence for piece sizes, the same on every run.
struct Pieces
{
    std::uint32_t seed;
    // The next piece size, from 0 to `most`.
    std::size_t next(std::size_t most)
    {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) % (most + 1);
    }
};

} // namespace fuzzref
