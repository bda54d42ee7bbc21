// What a firmware file becomes: its format, its checks and its download lines.
#include "records/firmwareinput.h"

#include "records/binaryreader.h"
#include "records/srecordreader.h"

namespace morven {

namespace {
// Enough of the start of a file to tell its format; a first line longer than this is no record.
constexpr std::size_t kHeadBytes = 4096;

InputError fileError(std::string message)
{
    return InputError{0, std::move(message)};
}
} // namespace

// S-records and binary data become Intel HEX records first, as srec_cat writes them.
struct FirmwareInput::Readers
{
    std::optional<SrecordReader> srec;
    std::optional<BinaryReader> binary;
};

FirmwareInput::FirmwareInput(const InputOptions &options, Sink sink)
    : options_(options)
    , sink_(std::move(sink))
{ }

FirmwareInput::~FirmwareInput() = default;

void FirmwareInput::output(std::string_view line)
{
    ++linesMade_;
    const char letter = line.size() > 1 ? line[1] : 0;
    if (linesMade_ == 1)
        letter_ = letter;
    else if (letter != letter_)
        mixed_ = true;
    sink_(line);
}

std::optional<InputError> FirmwareInput::decide()
{
    decided_ = true;
    // Binary input said so is raw bytes whatever they look like: a lone 0x0A is one byte of
    // image, not a blank text file.
    const bool binary = options_.inputFormat == InputFormat::Binary;
    // Only the first kHeadBytes tell, however many more the first feed brought: a file read
    // whole and the same file read from a pipe in small pieces must get the same format.
    const InputFormat sniffed
        = binary ? InputFormat::Binary : sniffFormat(std::string_view(head_).substr(0, kHeadBytes));
    if (sniffed == InputFormat::Empty || head_.empty())
        return fileError("is empty: there is nothing to send");
    format_ = options_.inputFormat.value_or(sniffed);
    if (options_.address && format_ != InputFormat::Binary)
        return fileError(std::string("--address is for binary input, but this file holds ") + formatName(format_));
    if (options_.patch && !options_.format)
        return fileError("a patch is written into records as they are converted, and this file is not converted");
    if (options_.patch)
        if (auto problem = checkPatch(*options_.patch))
            return fileError(std::move(*problem));

    if (options_.format) {
        switch (format_) {
        case InputFormat::IntelHex:
        case InputFormat::Srec:
        case InputFormat::Binary:
            break;
        case InputFormat::DownloadLines:
            return fileError("holds download lines already: there is nothing to convert (flash it without --format)");
        case InputFormat::Text:
        case InputFormat::Empty:
            return fileError("holds neither Intel HEX records, S-records nor binary data (--input-format bin reads "
                             "any file as binary)");
        }
        converter_
            = std::make_unique<RecordConverter>(*options_.format, [this](std::string_view line) { output(line); });
        if (options_.patch)
            patcher_ = std::make_unique<RecordPatcher>(*options_.patch, [this](std::string_view record) {
                if (!convertError_)
                    convertError_ = converter_->feed(record, convertLine_);
            });
        readers_ = std::make_unique<Readers>();
        if (format_ == InputFormat::Srec)
            readers_->srec.emplace();
        else if (format_ == InputFormat::Binary)
            readers_->binary.emplace(options_.address.value_or(0), [this](std::string_view r) { convertMade(r); });
        return std::nullopt;
    }

    switch (format_) {
    case InputFormat::DownloadLines:
    case InputFormat::Text: // its first line says what is wrong with it
        return std::nullopt;
    case InputFormat::IntelHex:
    case InputFormat::Srec:
        if (options_.force)
            return std::nullopt;
        return fileError(std::string("holds ") + formatName(format_)
            + ", not download lines: convert them with --format o, w or pw");
    case InputFormat::Binary:
        return fileError("holds binary data, not download lines: convert it with --format o, w or pw (and "
                         "--address for its load address)");
    case InputFormat::Empty:
        break;
    }
    return std::nullopt;
}

std::optional<InputError> FirmwareInput::convert(std::string_view record, std::size_t lineNo)
{
    if (!patcher_)
        return converter_->feed(record, lineNo);
    convertLine_ = lineNo;
    patcher_->feed(record);
    return convertError_;
}

void FirmwareInput::convertMade(std::string_view record)
{
    // Records the readers make are whole and at most 16 bytes long: the converter takes them all.
    // A patch's added record is longer; should a chunk not hold it, finish() tells.
    (void)convert(record, 0);
}

std::optional<InputError> FirmwareInput::convertRecord(std::string_view line, std::size_t lineNo)
{
    if (auto problem = checkIntelHexRecord(line))
        return InputError{lineNo, std::move(*problem)};
    return convert(line, lineNo);
}

std::optional<InputError> FirmwareInput::onLine(std::string_view line)
{
    ++lineNo_;
    if (line.empty())
        return std::nullopt; // a blank line carries nothing, in any format
    if (readers_ && readers_->srec)
        return readers_->srec->addLine(line, lineNo_);
    if (converter_)
        return convertRecord(line, lineNo_);
    if (!options_.force)
        if (auto problem = checkDownloadLine(line))
            return InputError{lineNo_, std::move(*problem)};
    output(line);
    return std::nullopt;
}

std::optional<InputError> FirmwareInput::process(std::string_view bytes)
{
    if (readers_ && readers_->binary)
        return readers_->binary->add(bytes);
    splitter_.feed(bytes, [this](std::string_view line) {
        lineError_ = onLine(line);
        return !lineError_;
    });
    return lineError_;
}

std::optional<InputError> FirmwareInput::processHead()
{
    if (auto error = decide())
        return error;
    const std::string head = std::move(head_);
    head_.clear();
    return process(head);
}

std::optional<InputError> FirmwareInput::feed(std::string_view bytes)
{
    if (decided_)
        return process(bytes);
    head_.append(bytes);
    return head_.size() < kHeadBytes ? std::nullopt : processHead();
}

std::optional<InputError> FirmwareInput::finish()
{
    if (!decided_)
        if (auto error = processHead())
            return error;
    splitter_.finish([this](std::string_view line) {
        lineError_ = onLine(line);
        return !lineError_;
    });
    if (lineError_)
        return lineError_;
    if (readers_ && readers_->srec)
        lineError_ = readers_->srec->finish([this](std::string_view r) { convertMade(r); });
    if (readers_ && readers_->binary)
        lineError_ = readers_->binary->finish();
    if (lineError_)
        return lineError_;
    if (convertError_)
        return convertError_;
    if (converter_ && converter_->pendingRecords() > 0 && converter_->pendingBytes() > 0) {
        const int more = converter_->pendingRecords() - 1;
        return InputError{converter_->firstPendingLine(),
            (more > 0 ? "this data record and the " + std::to_string(more) + " after it are"
                      : std::string("this data record is"))
                + " not followed by an end-of-file or address record, so the conversion would leave out "
                + std::to_string(converter_->pendingBytes()) + " data bytes"};
    }
    if (linesMade_ == 0)
        return fileError(converter_ ? "yields no download line" : "holds no download line");
    if (patcher_)
        if (auto problem = patcher_->finish())
            return fileError(std::move(*problem));
    return std::nullopt;
}

} // namespace morven
