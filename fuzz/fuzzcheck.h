// Helpers shared by the fuzz targets: a property check, an input header reader and small
// references written apart from the code under test, so a property never checks it against itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

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

} // namespace fuzzref
