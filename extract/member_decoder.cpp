#include "member_decoder.h"

#include <algorithm>
#include <memory>
#include <new>

#include "archive_handles.h"
#include "explode.h"
#include "qvarc32.h"
#include "status_reporting.h"
#include "unshrink.h"

namespace qv {
namespace {

// ZIP method numbers.
constexpr uint16_t kZipStored = 0;
constexpr uint16_t kZipShrunk = 1;
constexpr uint16_t kZipImploded = 6;
constexpr uint16_t kZipDeflated = 8;
constexpr uint16_t kZip10 = 10;
constexpr uint16_t kZip11 = 11;
constexpr uint16_t kZip12 = 12;

// General-purpose flag bits of an imploded member.
constexpr uint32_t kFlagImplode8K = 0x0002;
constexpr uint32_t kFlagImplode3Trees = 0x0004;

void ReportProgress(uint32_t processed) {
    StatusBlock& block = Status().block;
    block.kind = QV_STATUS_PROGRESS;
    block.processedSize = processed;
    ReportStatus(block);
}

// The two transfer buffers: the library's shared ones while an archive is open, else a pair
// of this call's own.
class TransferBuffers {
public:
    Result Acquire() {
        input_ = TransferBuffer(0);
        output_ = TransferBuffer(1);
        if (input_ && output_) return QV_OK;
        own_.reset(new (std::nothrow) uint8_t[2 * kTransferBufferSize]);
        if (!own_) return QV_E_MEMORY;
        input_ = own_.get();
        output_ = own_.get() + kTransferBufferSize;
        return QV_OK;
    }
    uint8_t* input() const { return input_; }
    uint8_t* output() const { return output_; }

private:
    std::unique_ptr<uint8_t[]> own_;
    uint8_t* input_ = nullptr;
    uint8_t* output_ = nullptr;
};

// One member's decoder: its state block and one call of the resumable protocol.
class ChunkDecoder {
public:
    Result Init(MethodCode code, uint32_t flags, uint32_t uncompressedSize) {
        code_ = code;
        uint32_t stateSize = 0;
        switch (code) {
            case kCodeStored:
                return QV_OK;
            case kCodeDeflateNormal:
            case kCodeDeflateMaximum:
            case kCodeDeflateFast:
            case kCodeDeflateSuperFast:
                stateSize = QvInflateUCBufSize();
                break;
            case kCodeImploded:
                stateSize = explode::ExplodeStateSize();
                break;
            case kCodeShrunk:
                stateSize = unshrink::UnshrinkStateSize();
                break;
            default:
                return QV_E_METHOD;
        }
        state_.reset(new (std::nothrow) uint8_t[stateSize]);
        if (!state_) return QV_E_MEMORY;
        if (code == kCodeImploded)
            explode::ExplodeInit(state_.get(), (flags & kFlagImplode3Trees) != 0,
                                 (flags & kFlagImplode8K) != 0);
        else if (code == kCodeShrunk)
            unshrink::UnshrinkInit(state_.get(), uncompressedSize);
        else
            QvInflateUCInit(state_.get());
        return QV_OK;
    }

    // Decodes from input + offset (*taken: in the bytes available, out the bytes taken) into
    // output (*written: out the bytes delivered, at *piece). True when the stream has ended.
    bool Step(uint8_t* input, uint32_t offset, uint32_t* taken, uint8_t* output, uint32_t* written,
              const uint8_t** piece, bool last) {
        if (code_ == kCodeStored) {
            *written = *taken;
            *piece = input + offset;
            return last;
        }
        *written = kTransferBufferSize;
        *piece = output;
        const uint32_t final = last ? 1 : 0;
        if (code_ == kCodeImploded)
            return explode::Explode(input, offset, taken, output, 0, written, state_.get(),
                                    final) != 0;
        if (code_ == kCodeShrunk)
            return unshrink::Unshrink(input, offset, taken, output, 0, written, state_.get(),
                                      final) != 0;
        return QvInflateUC(input, offset, taken, output, 0, written, state_.get(), final) != 0;
    }

private:
    MethodCode code_ = kCodeStored;
    std::unique_ptr<uint8_t[]> state_;
};

// The chunk loop shared by decoding to a file and to memory. progress, when given, is the
// count reported before each decoder call.
Result RunChunkLoop(FileHandle archive, int32_t compressedSize, uint32_t uncompressedSize,
                    MethodCode method, uint32_t flags, bool encrypted, PieceSink& sink,
                    const uint32_t* progress) {
    ChunkDecoder decoder;
    QV_TRY(decoder.Init(method, flags, uncompressedSize));
    TransferBuffers buffers;
    QV_TRY(buffers.Acquire());
    uint8_t* const input = buffers.input();

    Result result;
    uint32_t remaining = static_cast<uint32_t>(compressedSize);
    uint64_t decoded = 0;  // all bytes the decoder delivered, for the bound below
    bool finished = false;
    uint32_t chunk = std::min(remaining, kTransferBufferSize);
    while (result.ok()) {
        const bool last = remaining <= kTransferBufferSize;
        if (chunk != 0) {
            if (ReadBytes(archive, input, chunk) != chunk) {
                result = QV_E_EOF;
                break;
            }
            if (encrypted) QvDecryptData(input, chunk);
        }
        uint32_t untaken = chunk, offset = 0;
        do {
            if (progress) ReportProgress(*progress);
            uint32_t taken = untaken, written = 0;
            const uint8_t* piece = nullptr;
            finished =
                decoder.Step(input, offset, &taken, buffers.output(), &written, &piece, last);
            taken = std::min(taken, untaken);
            if (written != 0) {
                result = sink.Take(piece, written);
                if (!result.ok()) break;
                decoded += written;
            }
            // A call that neither takes nor delivers anything would be repeated forever: the
            // data is damaged, and what was decoded is all there is.
            if (taken == 0 && written == 0) finished = true;
            // Once the compressed data is used up, calls with no input only let the decoder
            // finish delivering; a damaged stream might deliver without end, so the member's
            // size bounds them.
            if (chunk == 0 && decoded >= uncompressedSize) finished = true;
            untaken -= taken;
            offset += taken;
            PumpMessages();
        } while (untaken > 0 && !finished && !sink.Satisfied());
        if (!result.ok()) break;
        remaining -= chunk;
        chunk = std::min(remaining, kTransferBufferSize);
        if (finished || sink.Satisfied() || CancelPending()) break;
    }
    if (ConsumeCancel() && result.ok()) result = QV_E_CANCELLED;
    return result;
}

// Decoded pieces into the CRC and, unless testing, the output file.
class FileSink : public PieceSink {
public:
    explicit FileSink(FileHandle output) : output_(output) {}
    Result Take(const uint8_t* data, uint32_t count) override {
        crc_ = QvCrc32A(data, count, crc_);
        if (output_ == kInvalidHandle) return QV_OK;
        if (WriteBytes(output_, data, count) != 0) return QV_E_WRITE;
        written_ += count;
        return QV_OK;
    }
    uint32_t crc() const { return ~crc_; }
    const uint32_t* written() const { return &written_; }

private:
    FileHandle output_;
    uint32_t crc_ = 0xFFFFFFFFu;
    uint32_t written_ = 0;
};

}  // namespace

bool IsExtractableMethod(uint16_t zipMethod) {
    switch (zipMethod) {
        case kZipStored:
        case kZipShrunk:
        case kZipImploded:
        case kZipDeflated:
        case kZip10:
        case kZip11:
        case kZip12:
            return true;
        default:
            return false;
    }
}

MethodCode MethodCodeOf(uint16_t zipMethod, uint16_t flags) {
    switch (zipMethod) {
        case kZipShrunk:
            return kCodeShrunk;
        case kZipImploded:
            return kCodeImploded;
        case kZipDeflated:
            return static_cast<MethodCode>(kCodeDeflateNormal + ((flags >> 1) & 3));
        case kZip10:
            return kCodeMethod10;
        case kZip11:
            return kCodeMethod11;
        case kZip12:
            return kCodeMethod12;
        default:
            return kCodeStored;
    }
}

bool HasDecoder(MethodCode method) {
    switch (method) {
        case kCodeStored:
        case kCodeDeflateNormal:
        case kCodeDeflateMaximum:
        case kCodeDeflateFast:
        case kCodeDeflateSuperFast:
            return true;
        case kCodeImploded:
        case kCodeShrunk:
            return true;
        default:
            return false;
    }
}

Result DecodeMemberToFile(FileHandle archive, FileHandle output, int32_t compressedSize,
                          uint32_t uncompressedSize, MethodCode method, uint32_t flags,
                          uint32_t* crc, bool encrypted) {
    FileSink sink(output);
    ReportProgress(0);
    Result result;
    if (compressedSize >= 1) {
        result = RunChunkLoop(archive, compressedSize, uncompressedSize, method, flags, encrypted,
                              sink, sink.written());
        if (result == QV_E_METHOD || result == QV_E_MEMORY) {
            *crc = 0;
            return result;
        }
        ReportProgress(uncompressedSize);
    }
    *crc = sink.crc();
    return result;
}

Result DecodeMemberPieces(FileHandle archive, int32_t compressedSize, uint32_t uncompressedSize,
                          MethodCode method, uint32_t flags, bool encrypted, PieceSink& sink) {
    if (compressedSize < 1) return QV_OK;
    return RunChunkLoop(archive, compressedSize, uncompressedSize, method, flags, encrypted, sink,
                        nullptr);
}

}  // namespace qv
