// Helpers shared by the fuzz targets: property checks, an input reader and small references.
#pragma once

// Shared by the fuzz targets: a check that makes libFuzzer keep the input, a reader for the
// fixed header that some targets take from the front of their input, and small reference
// helpers written independently of the code under test, so a property never checks the
// code against itself.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

// A violated property is a crash for libFuzzer: it saves the input as crash-<sha1>.
#define FUZZ_CHECK(cond)                                                                                               \
    do {                                                                                                               \
        if (!(cond)) {                                                                                                 \
            std::fprintf(stderr, "%s:%d: property violated: %s\n", __FILE__, __LINE__, #cond);                         \
            __builtin_trap();                                                                                          \
        }                                                                                                              \
    } while (0)

namespace fuzzref {

// Reads fixed-width fields from the front of the input; past the end it yields zeros, so
// every input, however short, is a valid one.
class Header
{
public:
    Header(const std::uint8_t *data, std::size_t size)
        : data_(data)
        , size_(size)
    { }

    std::uint8_t u8()
    {
        const std::uint8_t b = pos_ < size_ ? data_[pos_] : 0;
        ++pos_;
        return b;
    }
    std::uint16_t u16() // high byte first
    {
        const unsigned hi = u8();
        return static_cast<std::uint16_t>(hi << 8 | u8());
    }
    std::uint32_t u32()
    {
        const std::uint32_t hi = u16();
        return hi << 16 | u16();
    }
    // What follows the header.
    std::string_view rest() const
    {
        if (pos_ >= size_)
            return {};
        return {reinterpret_cast<const char *>(data_) + pos_, size_ - pos_};
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

inline bool isUpperHex(unsigned char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

// Value of one hex digit, either case; only called on digits.
inline unsigned hexValue(unsigned char c)
{
    if (c <= '9')
        return c - '0';
    if (c <= 'F')
        return c - 'A' + 10u;
    return c - 'a' + 10u;
}

// x / 2 rounded to the nearest whole number, a half going to the even neighbour.
inline std::size_t halfToEven(std::size_t x)
{
    const std::size_t whole = x / 2;
    if (x % 2 == 0)
        return whole;
    return whole % 2 == 0 ? whole : whole + 1;
}

// CRC-16/MODBUS the slow way, bit by bit.
inline std::uint16_t crcModbus(const std::uint8_t *p, std::size_t n)
{
    std::uint16_t r = 0xFFFF;
    for (std::size_t i = 0; i < n; ++i) {
        r = static_cast<std::uint16_t>(r ^ p[i]);
        for (int bit = 0; bit < 8; ++bit)
            r = static_cast<std::uint16_t>((r & 1u) ? (r >> 1) ^ 0xA001u : r >> 1);
    }
    return r;
}

inline void appendHex(std::string &out, std::uint8_t b)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    out.push_back(digits[b >> 4]);
    out.push_back(digits[b & 15]);
}

// The lines of a file's bytes: CR or CR LF ends a line, LF alone does not, and a terminator
// at the very end adds no empty line.
template <class Out> void splitFileLines(std::string_view bytes, Out &out)
{
    std::string line;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] != '\r') {
            line.push_back(bytes[i]);
            continue;
        }
        out.push_back(line);
        line.clear();
        if (i + 1 < bytes.size() && bytes[i + 1] == '\n')
            ++i;
    }
    if (!line.empty())
        out.push_back(line);
}

} // namespace fuzzref
