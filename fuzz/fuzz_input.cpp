// The whole input path: options and a file, fed whole and in pieces of any size.
//
// Input layout (missing bytes read as 0):
//   0    bits 0-1 --format (0 none, 1 o, 2 w, 3 pw); bits 2-3 --input-format (0 guessed, 1 ihex,
//        2 srec, 3 bin); bit 4 --address given; bit 5 --force; bit 6 put 2000 + byte 5 blank lines
//        (CR LF) after the first line, so the rest comes after the first 4 KiB the format is told from
//        (unless the file is converted as binary data); bit 7 a patch of 1 + byte 5 % 64 bytes at the
//        address
//   1-4  the address (of binary input, of the patch, or both)
//   5    seed of the piece sizes and the patch's bytes
//   6-   the file
//
// Both runs give the same lines, error (line and message), format and letter. The options and the
// first 4 KiB decide as the rules say; a file not converted yields its non-blank lines, each a
// good download line unless forced, and a converted one only good download lines of its letter.
#include "fuzzinput.h"

using morven::InputFormat;

namespace {

constexpr std::size_t kHead = 4096;

// The format the run must settle on, or nothing when the file as a whole must be refused.
std::optional<InputFormat> decide(const morven::InputOptions &o, std::string_view file)
{
    const bool binary = o.inputFormat == InputFormat::Binary;
    const InputFormat sniffed = binary ? InputFormat::Binary : morven::sniffFormat(file.substr(0, kHead));
    if (file.empty() || sniffed == InputFormat::Empty)
        return std::nullopt;
    const InputFormat format = o.inputFormat.value_or(sniffed);
    const bool records = format == InputFormat::IntelHex || format == InputFormat::Srec;
    if (o.address && format != InputFormat::Binary)
        return std::nullopt;
    if (o.patch && (!o.format || morven::checkPatch(*o.patch)))
        return std::nullopt;
    if (o.format ? !records && format != InputFormat::Binary : format == InputFormat::Binary || (records && !o.force))
        return std::nullopt;
    return format;
}

// Good Intel HEX records converted: a chunk is printed after eight data records, or before another
// record once it holds bytes; data records still pending at the end are refused, from the first
// of them, when they hold bytes; nothing else is.
void checkLeftOut(std::string_view file, const fuzzref::InputRun &run)
{
    std::vector<std::string> lines;
    fuzzref::splitLines(file, lines, true);
    std::vector<std::size_t> pending; // lines of the data records since the last chunk
    std::size_t bytes = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].empty())
            continue;
        if (morven::checkIntelHexRecord(lines[i]))
            return; // refused for itself
        const bool isData = lines[i][7] == '0' && lines[i][8] == '0';
        if (isData)
            pending.push_back(i), bytes += fuzzref::codecPair(std::uint8_t(lines[i][1]), std::uint8_t(lines[i][2]));
        if ((!isData && bytes > 0) || pending.size() == 8)
            pending.clear(), bytes = 0;
    }
    const bool saidSo = run.error && run.error->message.find("not followed by") != std::string::npos;
    FUZZ_CHECK((bytes > 0) == saidSo || (run.error && run.error->line > 0 && !saidSo)); // or a record refused
    FUZZ_CHECK(!saidSo || run.error->line == pending[0] + 1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    fuzzref::Header h(data, size);
    const std::uint8_t flags = h.u8();
    morven::InputOptions options;
    if (flags & 3)
        options.format = static_cast<morven::Format>((flags & 3) - 1);
    if (flags >> 2 & 3) {
        static const InputFormat chosen[] = {InputFormat::IntelHex, InputFormat::Srec, InputFormat::Binary};
        options.inputFormat = chosen[(flags >> 2 & 3) - 1];
    }
    const std::uint32_t address = h.u32();
    if (flags & 16)
        options.address = address;
    options.force = flags & 32;
    const std::uint8_t seed = h.u8();
    if (flags & 128) {
        options.patch = morven::Patch{address, {}};
        for (std::size_t i = 0; i <= seed % 64u; ++i)
            options.patch->bytes += static_cast<char>(seed * 7 + i);
    }
    std::string file(h.rest());
    if (flags & 64) {
        const std::size_t end = std::min(file.find_first_of("\r\n"), file.size());
        std::string padded;
        for (std::size_t i = 0; i < 2000u + seed; ++i)
            padded += "\r\n";
        padded.insert(0, file, 0, end);
        padded.append(file, end);
        // Not where the blank lines would be converted as binary data: slow, and of no use.
        const bool binary = options.inputFormat == InputFormat::Binary
            || (!options.inputFormat
                && morven::sniffFormat(std::string_view(padded).substr(0, kHead)) == InputFormat::Binary);
        if (!options.format || !binary)
            file = std::move(padded);
    }

    const fuzzref::InputRun whole = fuzzref::runInput(options, file);
    fuzzref::Pieces pieces{seed};
    const fuzzref::InputRun cut = fuzzref::runInput(options, file, &pieces, 300);
    FUZZ_CHECK(whole == cut);
    FUZZ_CHECK(whole.linesMade == whole.lines.size());

    const std::optional<InputFormat> format = decide(options, file);
    if (!format) {
        FUZZ_CHECK(whole.error && whole.error->line == 0 && whole.lines.empty());
        return 0;
    }
    FUZZ_CHECK(whole.format == *format);
    char letter = whole.lines.empty() ? 0 : whole.lines[0].size() > 1 ? whole.lines[0][1] : 0;
    for (const std::string &line : whole.lines)
        if ((line.size() > 1 ? line[1] : 0) != letter)
            letter = 0;
    FUZZ_CHECK(whole.letter == letter);

    if (options.format) {
        const char expected = options.format == morven::Format::O ? 'O' : 'W';
        for (const std::string &line : whole.lines)
            FUZZ_CHECK(line[1] == expected && !morven::checkDownloadLine(line));
        // Binary data always makes records, and they always close their last chunk; only a patch
        // that does not land refuses it.
        FUZZ_CHECK(*format != InputFormat::Binary || (!whole.error && !whole.lines.empty())
            || (options.patch && whole.error && whole.error->message.find("outside the image") != std::string::npos));
        if (*format == InputFormat::IntelHex)
            checkLeftOut(file, whole);
        return 0;
    }
    // Not converted: the non-blank lines as they are, up to the first that is no download line.
    struct Lines
    {
        bool force;
        std::vector<std::string> made;
        std::optional<morven::InputError> error;
        std::size_t lineNo = 0;
        void push_back(const std::string &line) // as the reference cuts them
        {
            ++lineNo;
            if (line.empty() || error)
                return;
            if (auto problem = force ? std::nullopt : morven::checkDownloadLine(line))
                error = morven::InputError{lineNo, *problem};
            else
                made.push_back(line);
        }
    } expected{options.force, {}, {}};
    fuzzref::splitLines(file, expected, true);
    auto &error = expected.error;
    if (!error && expected.made.empty())
        error = morven::InputError{0, "holds no download line"};
    FUZZ_CHECK(whole.lines == expected.made && whole.error.has_value() == error.has_value());
    FUZZ_CHECK(!error || (whole.error->line == error->line && whole.error->message == error->message));
    return 0;
}
