// line_endings.cpp - LF to CR LF conversion of text files, and back.
#include "line_endings.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "file_primitives.h"
#include "owned_file.h"
#include "qvarc32.h"

namespace qv {
namespace {

constexpr uint8_t kLf = 0x0A;
constexpr uint8_t kCr = 0x0D;
constexpr uint8_t kCtrlZ = 0x1A;  // the DOS end-of-text mark

// The source is read, and the destination written, in pieces of this size (or of the whole
// source when it is smaller).
constexpr uint32_t kPieceSize = 131072;

// The destination's buffer: filled a byte at a time and written out whenever it is full.
class OutputBuffer {
public:
    OutputBuffer(FileHandle h, uint8_t* data, uint32_t size) : h_(h), data_(data), size_(size) {}
    Result Put(uint8_t b) {
        if (used_ == size_) QV_TRY(Flush());
        data_[used_++] = b;
        return QV_OK;
    }
    // Copies a run of bytes unchanged.
    Result Append(const uint8_t* p, uint32_t n) {
        while (n > 0) {
            if (used_ == size_) QV_TRY(Flush());
            const uint32_t take = std::min(n, size_ - used_);
            std::memcpy(data_ + used_, p, take);
            used_ += take;
            p += take;
            n -= take;
        }
        return QV_OK;
    }
    Result Flush() {
        if (used_ > 0 && WriteBytes(h_, data_, used_) != 0) return QV_E_WRITE;
        used_ = 0;
        return QV_OK;
    }

private:
    FileHandle h_;
    uint8_t* data_;
    uint32_t size_;
    uint32_t used_ = 0;
};

// LF becomes CR LF; every other byte, CR and Ctrl-Z included, is copied. An LF already after
// a CR gains one too (CR LF becomes CR CR LF): the conversion does not look back.
class ToCrLf {
public:
    Result Piece(const uint8_t* p, uint32_t n, OutputBuffer& out, bool* /*stop*/) {
        const uint8_t* end = p + n;
        while (p < end) {
            const auto* lf = static_cast<const uint8_t*>(std::memchr(p, kLf, end - p));
            const uint8_t* runEnd = lf ? lf : end;
            QV_TRY(out.Append(p, static_cast<uint32_t>(runEnd - p)));
            if (!lf) break;
            QV_TRY(out.Put(kCr));
            QV_TRY(out.Put(kLf));
            p = lf + 1;
        }
        return QV_OK;
    }
};

// CR LF and a lone CR become LF; an LF on its own stays; a Ctrl-Z ends the text. Whether the
// last byte was a CR is kept across pieces, so a pair split between two pieces is still one.
class ToLf {
public:
    Result Piece(const uint8_t* p, uint32_t n, OutputBuffer& out, bool* stop) {
        for (uint32_t i = 0; i < n; ++i) {
            const uint8_t b = p[i];
            if (b == kLf && afterCr_) {
                afterCr_ = false;  // the LF of a CR LF pair: the CR already gave the LF
            } else if (b == kCtrlZ) {
                *stop = true;
                return QV_OK;
            } else if (b == kCr) {
                QV_TRY(out.Put(kLf));
                afterCr_ = true;
            } else {
                QV_TRY(out.Put(b));
                afterCr_ = false;
            }
        }
        return QV_OK;
    }

private:
    bool afterCr_ = false;
};

template <typename Converter>
Result ConvertFile(std::string_view source, std::string_view destination, Converter& converter,
                   bool endMark) {
    OwnedFile in(CreateOemFile(source, os::kGenericRead, os::kShareRead, os::kOpenExisting,
                               os::kFlagSequentialScan));
    if (!in.valid()) return QV_E_FILE;
    // Replacing a file the source still holds open fails here: the source shares reads only.
    OutputFile out(os::OemToAnsi(destination),
                   CreateOemFile(destination, os::kGenericWrite, os::kShareNone, os::kCreateAlways,
                                 os::kFlagSequentialScan));
    if (!out.valid()) return QV_E_WRITE;
    const uint32_t size = os::GetFileSize(in.get());
    if (size == os::kInvalidPosition) return QV_E_FILE;

    if (size > 0) {
        const uint32_t bufferSize = std::min(size, kPieceSize);
        std::unique_ptr<uint8_t[]> inData(new (std::nothrow) uint8_t[bufferSize]);
        std::unique_ptr<uint8_t[]> outData(new (std::nothrow) uint8_t[bufferSize]);
        if (!inData || !outData) return QV_E_MEMORY;
        OutputBuffer buffer(out.get(), outData.get(), bufferSize);
        bool stop = false;
        for (uint32_t left = size; left > 0 && !stop;) {
            const uint32_t piece = std::min(left, bufferSize);
            // The size was taken at the start: a source that shrinks meanwhile is cut short.
            if (ReadBytes(in.get(), inData.get(), piece) != piece) return QV_E_EOF;
            QV_TRY(converter.Piece(inData.get(), piece, buffer, &stop));
            left -= piece;
        }
        QV_TRY(buffer.Flush());
    }
    if (endMark && WriteBytes(out.get(), &kCtrlZ, 1) != 0) return QV_E_WRITE;
    if (!out.Keep()) return QV_E_WRITE;
    return QV_OK;
}

}  // namespace

Result LfToCrLf(std::string_view source, std::string_view destination, bool endMark) {
    ToCrLf converter;
    return ConvertFile(source, destination, converter, endMark);
}

Result CrLfToLf(std::string_view source, std::string_view destination) {
    ToLf converter;
    return ConvertFile(source, destination, converter, false);
}

}  // namespace qv

QV_API ResultCode QV_CALL Qv4LfToCrLf(const char* source, const char* destination,
                                      int32_t endMark) {
    return qv::Guarded([&]() -> qv::Result {
        if (!source) return QV_E_FILE;
        if (!destination) return QV_E_WRITE;
        // The flag is a 16-bit value in a 32-bit slot.
        return qv::LfToCrLf(source, destination, (endMark & 0xFFFF) != 0);
    });
}

QV_API ResultCode QV_CALL Qv4CrLfToLf(const char* source, const char* destination) {
    return qv::Guarded([&]() -> qv::Result {
        if (!source) return QV_E_FILE;
        if (!destination) return QV_E_WRITE;
        return qv::CrLfToLf(source, destination);
    });
}
