// What a firmware file becomes: its format, its checks and its download lines.
#pragma once

#include "records/conversion.h"
#include "records/inputchecks.h"
#include "records/inputerror.h"
#include "records/linestore.h"
#include "records/recordpatch.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace morven {

// What the operator said about an input file.
struct InputOptions
{
    std::optional<Format> format; // convert records into download lines of this kind
    std::optional<InputFormat> inputFormat; // IntelHex, Srec or Binary instead of guessing
    std::optional<std::uint32_t> address; // where binary input is loaded
    bool force = false; // let lines through that are not download lines
    // Bytes written over the image before it is converted (see RecordPatcher): a unit's own copy.
    std::optional<Patch> patch;
};

// Turns the bytes of an input file into the download lines morvenctl sends or writes, checking
// everything a production line must not get wrong on the way: the format, every record's
// checksum, every download line's shape and CRC, data that a conversion would leave out, and a
// file that yields nothing. Streams: lines go to the sink as they are made.
class FirmwareInput
{
public:
    using Sink = std::function<void(std::string_view line)>;

    FirmwareInput(const InputOptions &options, Sink sink);
    ~FirmwareInput();

    [[nodiscard]] std::optional<InputError> feed(std::string_view bytes);
    [[nodiscard]] std::optional<InputError> finish();

    InputFormat format() const { return format_; }
    std::size_t linesMade() const { return linesMade_; }
    // 'O' or 'W' when every line made starts with that letter, 0 otherwise.
    char letter() const { return mixed_ ? 0 : letter_; }

private:
    struct Readers;

    [[nodiscard]] std::optional<InputError> decide();
    [[nodiscard]] std::optional<InputError> processHead();
    [[nodiscard]] std::optional<InputError> process(std::string_view bytes);
    [[nodiscard]] std::optional<InputError> onLine(std::string_view line);
    [[nodiscard]] std::optional<InputError> convertRecord(std::string_view line, std::size_t lineNo);
    void convertMade(std::string_view record);
    [[nodiscard]] std::optional<InputError> convert(std::string_view record, std::size_t lineNo);
    void output(std::string_view line);

    InputOptions options_;
    Sink sink_;
    bool decided_ = false;
    std::string head_;
    InputFormat format_ = InputFormat::Empty;
    LineSplitter splitter_{LineEnds::Any};
    std::size_t lineNo_ = 0;
    std::optional<InputError> lineError_;
    std::unique_ptr<RecordConverter> converter_;
    std::unique_ptr<RecordPatcher> patcher_;
    std::size_t convertLine_ = 0; // of the record the patcher is passing on
    std::optional<InputError> convertError_;
    std::unique_ptr<Readers> readers_;
    std::size_t linesMade_ = 0;
    char letter_ = 0;
    bool mixed_ = false;
};

} // namespace morven
