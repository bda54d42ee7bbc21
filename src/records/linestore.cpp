// Compact lists of text lines, and cutting text into lines.
#include "records/linestore.h"

#include <cstring>
#include <stdexcept>

namespace morven {

namespace {

constexpr std::size_t kMaxBlob = LineStore::MaxBytes;

void checkBlobSize(std::size_t bytes)
{
    if (bytes > kMaxBlob)
        throw std::length_error("LineStore: more than 4 GiB of text");
}

// Calls onLine(begin, end) for every line of data[0 .. n) under the file rules: CR or CR LF
// ends a line, LF alone does not, no empty line after a final terminator.
template <class OnLine> void splitLines(const char *data, std::size_t n, OnLine &&onLine)
{
    std::size_t pos = 0;
    while (pos < n) {
        const std::size_t end = findLineEnd(data, n, pos, LineEnds::Cr);
        if (end == n) {
            onLine(pos, n);
            return;
        }
        onLine(pos, end);
        pos = end + 1;
        if (pos < n && data[pos] == '\n')
            ++pos;
    }
}

} // namespace

void LineStore::pushEnd(std::size_t end)
{
    checkBlobSize(end);
    ends_.push_back(static_cast<std::uint32_t>(end));
}

void LineStore::append(std::string_view line)
{
    checkBlobSize(blob_.size() + line.size());
    blob_.append(line);
    pushEnd(blob_.size());
}

void LineStore::clear() noexcept
{
    blob_.clear();
    ends_.clear();
}

void LineStore::reserve(std::size_t lines, std::size_t bytes)
{
    ends_.reserve(ends_.size() + lines);
    if (bytes > 0)
        blob_.reserve(blob_.size() + bytes);
}

void LineStore::appendFileBytes(std::string_view bytes)
{
    // The terminators are dropped, so the bytes are an upper bound of what the blob needs.
    checkBlobSize(blob_.size() + bytes.size());
    blob_.reserve(blob_.size() + bytes.size());
    splitLines(bytes.data(), bytes.size(), [&](std::size_t begin, std::size_t end) {
        blob_.append(bytes.data() + begin, end - begin);
        pushEnd(blob_.size());
    });
}

void LineStore::appendFileBytes(std::string &&bytes)
{
    if (!empty()) {
        appendFileBytes(std::string_view(bytes));
        return;
    }
    checkBlobSize(bytes.size());
    blob_ = std::move(bytes);
    bytes.clear();
    ends_.clear();
    // Each line moves down over the terminators before it; the write position never passes
    // the read position, so the moves stay inside the buffer.
    char *data = blob_.data();
    std::size_t write = 0;
    splitLines(data, blob_.size(), [&](std::size_t begin, std::size_t end) {
        const std::size_t len = end - begin;
        if (write != begin && len > 0)
            std::memmove(data + write, data + begin, len);
        write += len;
        ends_.push_back(static_cast<std::uint32_t>(write));
    });
    blob_.resize(write);
}

std::string saveText(const LineStore &list)
{
    std::string text;
    writeItems(list, [&](std::string_view piece) { text.append(piece); });
    return text;
}

} // namespace morven
