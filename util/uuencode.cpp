// uuencode.cpp - UUencode and UUdecode of whole files, in one piece or in numbered parts.
#include "uuencode.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "file_primitives.h"
#include "owned_file.h"
#include "qvarc32.h"

namespace qv {
namespace {

constexpr std::string_view kBeginSeparator =
    "BEGIN------------------CUT HERE-----------------cut here-----\r\n";
constexpr std::string_view kEndSeparator =
    "END--------------------CUT HERE-----------------cut here-----\r\n";
static_assert(kBeginSeparator.size() == 63 && kEndSeparator.size() == 63);

// Source bytes per full data line; its length character is "M".
constexpr uint32_t kLineBytes = 45;
// Bytes of a full data line: length character, 60 characters, CR LF.
constexpr uint32_t kFullLineSize = 1 + kLineBytes / 3 * 4 + 2;
// The source is read this many whole lines at a time.
constexpr uint32_t kReadBlock = kLineBytes * 1456;
// Output is gathered and written in pieces of about this size.
constexpr size_t kWriteBlock = 65536;

constexpr bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

std::string Decimal(uint64_t value) {
    return std::to_string(value);
}

// The name of part `number` of a series: the base name's drive, directory and base name, a
// dot and the number in decimal.
std::string PartName(const PathParts& base, uint32_t number) {
    return base.drive + base.directory + base.baseName + "." + Decimal(number);
}

// Opens or creates an output for reading and writing (sharing reads) and empties it, so that
// no text or data of an older, longer file survives behind the new contents.
Result OpenOutput(std::string ansiName, OutputFile* out) {
    const os::FileHandle h =
        os::CreateFile(ansiName, os::kGenericReadWrite, os::kShareRead, os::kOpenAlways, 0);
    if (h == kInvalidHandle) return QV_E_WRITE;
    out->Adopt(std::move(ansiName), h);
    if (!os::SetEndOfFile(out->get())) return QV_E_WRITE;
    return QV_OK;
}

// ---- Encoding -----------------------------------------------------------------------------

char UuChar(uint32_t value) {
    return value == 0 ? '`' : static_cast<char>(value + 32);
}

// The exact size of the text for a source of `size` bytes.
uint64_t TextSize(uint64_t size, size_t headerNameLength, bool separators) {
    uint64_t total = 10 + headerNameLength + 2;  // "begin 644 " name CR LF
    total += size / kLineBytes * kFullLineSize;
    if (const uint64_t rest = size % kLineBytes; rest > 0) total += 1 + (rest + 2) / 3 * 4 + 2;
    total += 3 + 5 + Decimal(size).size() + 2;  // "`", "end", the size line
    if (separators) total += kBeginSeparator.size() + kEndSeparator.size();
    return total;
}

// Writes the lines of the text into the output, starting the next part of a series first
// whenever a line would make the current part reach the split size. Parts written by a call
// that then fails are deleted again.
class PartWriter {
public:
    PartWriter(PathParts base, int64_t splitSize, uint16_t* partCount)
        : base_(std::move(base)), split_(splitSize), partCount_(partCount) {}
    ~PartWriter() {
        if (!kept_)
            for (const std::string& name : finished_) os::DeleteFile(name);
    }
    PartWriter(const PartWriter&) = delete;
    PartWriter& operator=(const PartWriter&) = delete;

    Result Open(std::string name) { return OpenOutput(std::move(name), &current_); }

    // UuWriteLine: one line, its line end included.
    Result WriteLine(std::string_view line) {
        // A part never reaches the split size; an empty part is never left behind.
        if (inPart_ > 0 && inPart_ + static_cast<int64_t>(line.size()) >= split_) {
            QV_TRY(Flush());
            finished_.push_back(current_.name());
            if (!current_.Keep()) return QV_E_WRITE;
            inPart_ = 0;
            ++parts_;
            *partCount_ = static_cast<uint16_t>(parts_);
            QV_TRY(Open(PartName(base_, parts_)));
        }
        pending_.append(line);
        inPart_ += static_cast<int64_t>(line.size());
        if (pending_.size() >= kWriteBlock) QV_TRY(Flush());
        return QV_OK;
    }

    // Writes what is pending and keeps every part.
    Result Finish() {
        QV_TRY(Flush());
        finished_.push_back(current_.name());
        if (!current_.Keep()) return QV_E_WRITE;
        kept_ = true;
        return QV_OK;
    }

private:
    Result Flush() {
        if (!pending_.empty() && WriteBytes(current_.get(), pending_.data(),
                                            static_cast<uint32_t>(pending_.size())) != 0)
            return QV_E_WRITE;
        pending_.clear();
        return QV_OK;
    }

    PathParts base_;
    int64_t split_;
    uint16_t* partCount_;
    uint32_t parts_ = 1;
    int64_t inPart_ = 0;
    OutputFile current_;
    std::string pending_;
    std::vector<std::string> finished_;
    bool kept_ = false;
};

// ---- Decoding -----------------------------------------------------------------------------

// UuReadLine over a buffered source: a line ends at the first CR or LF within the next 255
// bytes (CR LF counts as one line end); the last line of a file may end with the file.
class LineReader {
public:
    explicit LineReader(os::FileHandle h) : h_(h), buffer_(new char[kBufferSize]) {}

    // Continues with the next part of a series.
    void Reset(os::FileHandle h) {
        h_ = h;
        begin_ = end_ = 0;
        atEof_ = false;
    }

    // The next line without its end, cut at a NUL as a C string would be; *atEnd (and an
    // empty line) when the source has no bytes left. -18 for a line without an end within
    // 255 bytes, 105 when the source cannot be read.
    Result Next(std::string_view* line, bool* atEnd) {
        if (end_ - begin_ < kWindow && !atEof_) QV_TRY(Fill());
        const size_t window = std::min(end_ - begin_, kWindow);
        *atEnd = window == 0;
        *line = {};
        if (window == 0) return QV_OK;
        const char* p = buffer_.get() + begin_;
        size_t length = 0;
        while (length < window && p[length] != '\r' && p[length] != '\n') ++length;
        size_t consumed;
        if (length == window) {
            // No line end: too long, unless the file ended first.
            if (window == kWindow) return QV_E_TOO_LONG;
            consumed = window;
        } else {
            consumed = length + 1;
            if (p[length] == '\r' && length + 1 < window && p[length + 1] == '\n') ++consumed;
        }
        *line = std::string_view(p, length);
        *line = line->substr(0, line->find('\0'));
        begin_ += consumed;
        return QV_OK;
    }

private:
    static constexpr size_t kWindow = kUuMaxLine + 1;
    static constexpr size_t kBufferSize = 65536;

    // Tops the buffer up until a whole window is there or the source has ended.
    Result Fill() {
        std::copy(buffer_.get() + begin_, buffer_.get() + end_, buffer_.get());
        end_ -= begin_;
        begin_ = 0;
        while (end_ < kWindow && !atEof_) {
            uint32_t done = 0;
            if (!os::ReadFile(h_, buffer_.get() + end_, static_cast<uint32_t>(kBufferSize - end_),
                              &done))
                return QV_E_FILE;
            if (done == 0) atEof_ = true;
            end_ += done;
        }
        return QV_OK;
    }

    os::FileHandle h_;
    std::unique_ptr<char[]> buffer_;
    size_t begin_ = 0, end_ = 0;
    bool atEof_ = false;
};

// The source text, one file or a series of parts read as one run of lines. Owns the file it
// is reading.
class UuSource {
public:
    UuSource(PathParts name, bool series, os::FileHandle first)
        : name_(std::move(name)), series_(series), file_(first), reader_(first) {}

    // The next line of the file being read.
    Result NextInFile(std::string_view* line, bool* atEnd) { return reader_.Next(line, atEnd); }

    // The next line, going on into the next part of a series when one part ends. *atEnd when
    // the text has ended.
    Result Next(std::string_view* line, bool* atEnd) {
        for (;;) {
            QV_TRY(reader_.Next(line, atEnd));
            if (!*atEnd || !series_) return QV_OK;
            file_.Reset(os::CreateFile(PartName(name_, ++part_), os::kGenericRead, os::kShareRead,
                                       os::kOpenExisting, 0));
            if (!file_.valid()) {
                series_ = false;  // the series ends with the last part that exists
                return QV_OK;
            }
            reader_.Reset(file_.get());
        }
    }

private:
    PathParts name_;
    bool series_;
    uint32_t part_ = 1;
    OwnedFile file_;
    LineReader reader_;
};

// The file name a "begin" line records: the text after its second space, up to the next space.
// Only the name's file-name part counts, so that nothing the text says can place the output
// outside the output directory. -1 when there is no usable name.
Result RecordedFileName(std::string_view line, std::string* fileName) {
    const size_t first = line.find(' ');
    const size_t second = first == std::string_view::npos ? first : line.find(' ', first + 1);
    if (second == std::string_view::npos) return QV_E_NOT_ARCHIVE;
    std::string_view name = line.substr(second + 1);
    name = name.substr(0, name.find(' '));
    SplitPathName(name, nullptr, nullptr, fileName);
    // "", "." and ".." (or any run of dots) name no file of the output directory.
    if (fileName->find_first_not_of('.') == std::string::npos) return QV_E_NOT_ARCHIVE;
    return QV_OK;
}

// Decoded bytes on their way to the output.
class DecodedOutput {
public:
    explicit DecodedOutput(os::FileHandle h) : h_(h) { pending_.reserve(kWriteBlock + 3); }
    Result Append(const uint8_t* p, uint32_t n) {
        pending_.insert(pending_.end(), p, p + n);
        written_ += n;
        if (pending_.size() >= kWriteBlock) return Flush();
        return QV_OK;
    }
    Result Flush() {
        if (!pending_.empty() &&
            WriteBytes(h_, pending_.data(), static_cast<uint32_t>(pending_.size())) != 0)
            return QV_E_WRITE;
        pending_.clear();
        return QV_OK;
    }
    uint64_t written() const { return written_; }

private:
    os::FileHandle h_;
    std::vector<uint8_t> pending_;
    uint64_t written_ = 0;
};

// Decodes one data line into out. A line holds a length character and, for its n bytes,
// (n + 2) / 3 groups of four characters; characters beyond those are not data.
Result DecodeDataLine(std::string_view line, DecodedOutput& out) {
    const uint32_t count = (static_cast<uint8_t>(line[0]) - 32u) & 255u;
    const uint32_t groups = (count + 2) / 3;
    if (line.size() - 1 < groups * 4) return QV_W_SKIPPED;
    for (uint32_t g = 0; g < groups; ++g) {
        uint8_t bytes[3];
        if (!UuDecodeGroup(line.data() + 1 + g * 4, bytes)) return QV_E_DATA;
        // The last group's padding bytes are not part of the file.
        QV_TRY(out.Append(bytes, std::min<uint32_t>(3, count - g * 3)));
    }
    return QV_OK;
}

// After the end of data: "end" and then the file's size may follow. The size only ever cuts
// the output; every failure here is ignored, as these lines are optional.
void ApplySizeLine(UuSource& source, os::FileHandle out, uint64_t written) {
    std::string_view line;
    bool atEnd = false;
    if (!source.Next(&line, &atEnd).ok() || atEnd || !line.starts_with("end")) return;
    if (!source.Next(&line, &atEnd).ok() || atEnd || line.empty() || !IsDigit(line[0])) return;
    uint64_t size = 0;
    for (size_t i = 0; i < line.size() && IsDigit(line[i]) && size <= written; ++i)
        size = size * 10 + static_cast<uint64_t>(line[i] - '0');
    if (size >= written || size > static_cast<uint64_t>(std::numeric_limits<int32_t>::max()))
        return;
    if (os::SetFilePointer(out, static_cast<int32_t>(size), os::kFileBegin) == size)
        (void)os::SetEndOfFile(out);
}

}  // namespace

void UuEncodeGroup(const uint8_t bytes[3], char out[4]) {
    out[0] = UuChar(bytes[0] >> 2);
    out[1] = UuChar(((bytes[0] << 4) | (bytes[1] >> 4)) & 63);
    out[2] = UuChar(((bytes[1] << 2) | (bytes[2] >> 6)) & 63);
    out[3] = UuChar(bytes[2] & 63);
}

bool UuDecodeGroup(const char in[4], uint8_t out[3]) {
    uint32_t v[4];
    for (int i = 0; i < 4; ++i) {
        const auto c = static_cast<uint8_t>(in[i]);
        v[i] = c == '`' ? 0 : static_cast<uint32_t>(c) - 32u;  // below 32 wraps and fails
        if (v[i] >= 64) return false;
    }
    out[0] = static_cast<uint8_t>((v[0] << 2) | (v[1] >> 4));
    out[1] = static_cast<uint8_t>((v[1] << 4) | (v[2] >> 2));
    out[2] = static_cast<uint8_t>((v[2] << 6) | v[3]);
    return true;
}

Result UuEncodeFile(std::string_view source, std::string_view output, int32_t splitSize,
                    bool separators, uint16_t* partCount) {
    *partCount = 1;
    const PathParts sourceParts = SplitPath(source);
    const std::string baseName =
        output.empty() ? sourceParts.drive + sourceParts.directory + sourceParts.baseName
                       : std::string(output);
    const std::string headerName = sourceParts.baseName + sourceParts.extension;

    OwnedFile in(os::CreateFile(source, os::kGenericRead, os::kShareRead, os::kOpenExisting, 0));
    if (!in.valid()) return QV_E_FILE;
    const uint32_t size = os::SetFilePointer(in.get(), 0, os::kFileEnd);
    if (size == os::kInvalidPosition || os::SetFilePointer(in.get(), 0, os::kFileBegin) != 0)
        return QV_E_FILE;

    // Below 2048 the split size counts kilobytes.
    int64_t split = splitSize;
    if (split >= 1 && split < 2048) split *= 1024;
    bool series = false;
    if (split >= 1) {
        const uint64_t estimate = 10 + headerName.size() + 8 + 3 * ((uint64_t{size} + 44) / 45) +
                                  (uint64_t{size} + 2) / 3 + size + 2 + (separators ? 126 : 0);
        if (estimate / static_cast<uint64_t>(split) > kUuMaxParts) return QV_E_TOO_LONG;
        // The estimate leaves out the size line, so compare the exact size as well: a single
        // file must not reach the split size, or its tail would go to a part of a series
        // that its name does not announce.
        series = estimate > static_cast<uint64_t>(split) ||
                 TextSize(size, headerName.size(), separators) >= static_cast<uint64_t>(split);
    }
    // A single file is never split.
    if (!series) split = std::numeric_limits<int64_t>::max();

    const PathParts baseParts = SplitPath(baseName);
    std::string firstName;
    if (series)
        firstName = PartName(baseParts, 1);
    else
        firstName = HasExtension(baseName) ? baseName : baseName + ".uue";

    // An empty source has nothing to encode, and no output is made.
    if (size == 0) return QV_E_WRITE;

    PartWriter writer(baseParts, split, partCount);
    QV_TRY(writer.Open(firstName));
    if (separators) QV_TRY(writer.WriteLine(kBeginSeparator));
    QV_TRY(writer.WriteLine("begin 644 " + headerName + "\r\n"));

    std::unique_ptr<uint8_t[]> block(new uint8_t[kReadBlock]);
    std::string line;
    for (uint32_t left = size; left > 0;) {
        const uint32_t piece = std::min(left, kReadBlock);
        if (ReadBytes(in.get(), block.get(), piece) != piece) return QV_E_FILE;
        left -= piece;
        for (uint32_t at = 0; at < piece; at += kLineBytes) {
            const uint32_t n = std::min(kLineBytes, piece - at);
            line.assign(1, static_cast<char>(n + 32));
            for (uint32_t g = 0; g < n; g += 3) {
                // A short last group is padded with zero bytes.
                uint8_t group[3] = {0, 0, 0};
                std::copy_n(block.get() + at + g, std::min<uint32_t>(3, n - g), group);
                char chars[4];
                UuEncodeGroup(group, chars);
                line.append(chars, 4);
            }
            line += "\r\n";
            QV_TRY(writer.WriteLine(line));
        }
    }

    QV_TRY(writer.WriteLine("`\r\n"));
    QV_TRY(writer.WriteLine("end\r\n"));
    QV_TRY(writer.WriteLine(Decimal(size) + "\r\n"));
    if (separators) QV_TRY(writer.WriteLine(kEndSeparator));
    return writer.Finish();
}

Result UuDecodeFile(std::string_view source, std::string_view outputDirectory) {
    std::string sourceName(source);
    bool series = false;
    if (HasExtension(sourceName))
        series = SplitPath(sourceName).extension == ".1";
    else
        sourceName += ".uue";
    const PathParts sourceParts = SplitPath(sourceName);

    std::string directory = outputDirectory.empty() ? sourceParts.drive + sourceParts.directory
                                                    : std::string(outputDirectory);
    if (!directory.empty() && !os::IsSeparator(directory.back())) directory += '\\';

    const os::FileHandle first =
        os::CreateFile(sourceName, os::kGenericRead, os::kShareRead, os::kOpenExisting, 0);
    if (first == kInvalidHandle) return QV_E_FILE;
    UuSource text(sourceParts, series, first);

    // The header is looked for in the first file only.
    std::string_view line;
    bool atEnd = false;
    for (;;) {
        QV_TRY(text.NextInFile(&line, &atEnd));
        if (atEnd) return QV_E_NOT_ARCHIVE;
        if (line.starts_with("begin ")) break;
    }
    std::string fileName;
    QV_TRY(RecordedFileName(line, &fileName));

    OutputFile out;
    QV_TRY(OpenOutput(directory + fileName, &out));
    DecodedOutput decoded(out.get());
    for (;;) {
        QV_TRY(text.Next(&line, &atEnd));
        if (atEnd) return QV_W_SKIPPED;  // the text ended before its end of data
        if (line.empty()) continue;
        // Only "`" ends the data: a line starting with a space is an empty data line.
        if (line[0] == '`') break;
        QV_TRY(DecodeDataLine(line, decoded));
    }
    QV_TRY(decoded.Flush());
    ApplySizeLine(text, out.get(), decoded.written());
    if (!out.Keep()) return QV_E_WRITE;
    return QV_OK;
}

}  // namespace qv

QV_API ResultCode QV_CALL Qv4UUEncode(const char* source, const char* output, int32_t splitSize,
                                      int32_t separators, uint16_t* partCount) {
    return qv::Guarded([&]() -> qv::Result {
        if (!source || !partCount) return QV_E_CANCELLED;
        return qv::UuEncodeFile(source, output ? output : "", splitSize, separators != 0,
                                partCount);
    });
}

QV_API ResultCode QV_CALL Qv4UUDecode(const char* source, const char* outputDirectory) {
    return qv::Guarded([&]() -> qv::Result {
        if (!source) return QV_E_CANCELLED;
        return qv::UuDecodeFile(source, outputDirectory ? outputDirectory : "");
    });
}
