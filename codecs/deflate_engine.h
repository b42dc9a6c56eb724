// deflate_engine.h - the inside of the deflate engine: the layout of its state block, the
// per-call view of the stream, and the routines its three parts share.
//
// The engine is an explicit state machine. Everything that lasts from one QvDeflate call to
// the next lives in the caller's three blocks:
//   state block: the window (32768-byte ring of eight 4096-byte chunks, a 257-byte copy of its
//                start and spare room for wide compares), the 8192 hash heads, and Context;
//   link block:  one 16-bit chain link per window position;
//   item block:  the pending items of the current block (flag words, then the items).
// The caller's state block may have any alignment; the regions are laid out from its first
// 64-byte boundary, which the block's slack allows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "deflate.h"

namespace qv::deflate {

// ---- Window and match finder ---------------------------------------------------------------

inline constexpr uint32_t kWindowSize = 32768;  // deflate's largest distance window
inline constexpr uint32_t kChunkSize = 4096;    // input is taken and compressed a chunk at a time
inline constexpr uint32_t kChunkShift = 12;
inline constexpr uint32_t kChunkCount = 8;
inline constexpr uint32_t kCopySize = 257;  // window start repeated after its end (258 - 1)
// Window, copy area and spare room: compares read up to 8 bytes at a time, so the region is
// larger than the 33025 bytes that ever count.
inline constexpr uint32_t kWindowRegion = 33280;
inline constexpr uint32_t kHashSize = 8192;  // 13-bit hash over three bytes
inline constexpr uint32_t kHashMask = kHashSize - 1;
inline constexpr uint16_t kEmpty = 0xFFFF;  // empty head or link
inline constexpr uint32_t kMinMatch = 3;    // deflate's shortest and longest match
inline constexpr uint32_t kMaxMatch = 258;
inline constexpr uint16_t kMinChainLimit = 10;  // chain limits below 8 are raised to this
inline constexpr uint16_t kMaxChainLimit = 2048;

// ---- Item buffer ---------------------------------------------------------------------------

inline constexpr uint32_t kBlockItems = 8192;  // items per block, the last block excepted
inline constexpr uint32_t kFlagBytes = 1024;   // 512 flag words of 16 bits come first
inline constexpr uint16_t kFlagStart = 0x8000;

// ---- Huffman codes (deflate's alphabets) ---------------------------------------------------

inline constexpr unsigned kLitLenSymbols = 288;  // literal/length alphabet, 286 and 287 unused
inline constexpr unsigned kDistSymbols = 32;     // distance alphabet, 30 and 31 unused
inline constexpr unsigned kCodeLenSymbols = 19;  // code-length alphabet
inline constexpr unsigned kEndOfBlock = 256;
inline constexpr unsigned kMaxCodeBits = 15;    // literal/length and distance codes
inline constexpr unsigned kMaxCodeLenBits = 7;  // code-length code
inline constexpr unsigned kMaxRleSymbols = 286 + 30;

// Links live in the caller's block, which need not be 2-byte aligned.
typedef uint16_t LinkEntry __attribute__((aligned(1)));

enum class Phase : uint8_t {
    Start,       // fresh from QvDeflateInit
    Fill,        // filling the current chunk from the input
    Parse,       // turning the current chunk into items
    Finish,      // input over: close the item buffer as the final block
    WriteBlock,  // writing the pending items as one block
    Pad,         // final block written: pad the last byte
    Done,        // stream complete
};

enum class BlockStep : uint8_t {
    Header,       // block header, and for dynamic codes HLIT, HDIST, HCLEN
    CodeLengths,  // the HCLEN lengths of the code-length code
    Rle,          // the run-length coded literal/length and distance lengths
    Items,        // the items
    EndOfBlock,   // the end-of-block code
    Done,
};

// The lasting state of one stream, after the window and the hash heads.
struct Context {
    Phase phase;       // where the next call resumes
    Phase afterBlock;  // where to go once the block being written is out
    uint8_t wrapped;   // every chunk has been compressed once: refills scrub first
    uint8_t finalBlock;

    // Chunk cycle and parse position.
    uint16_t chunk;      // 0 to 7
    uint16_t chunkFill;  // bytes in the chunk
    uint16_t searchEnd;  // window offset after the chunk's inserted positions
    uint16_t parsePos;   // window offset of the next item
    uint16_t parseLeft;  // bytes of the chunk not yet covered by items
    uint16_t heldLen;    // a match held for lazy evaluation (held != 0)
    uint16_t heldPos;
    uint8_t held;

    // Item buffer.
    uint16_t flagAcc;     // flags of the current group, shifted in at bit 15
    uint16_t flagOffset;  // where the next flag word goes
    uint16_t itemOffset;  // where the next item goes
    uint16_t countdown;   // items still allowed in the block, in steps of whole flag words

    // Block writer.
    BlockStep blockStep;
    uint8_t blockDynamic;
    uint16_t blockItems;  // items in the block being written
    uint16_t blockIndex;  // next item, code length or run-length symbol to write
    uint16_t readOffset;  // item byte of blockIndex
    uint16_t hlit, hdist, hclen, rleCount;

    // Bit writer: bits not yet written, least significant first.
    uint64_t bitBuffer;
    uint32_t bitCount;

    // The codes of the block being written (bit-reversed, ready to send) and their lengths.
    uint16_t litCode[kLitLenSymbols];
    uint16_t distCode[kDistSymbols];
    uint16_t clCode[kCodeLenSymbols];
    uint8_t litLen[kLitLenSymbols];
    uint8_t distLen[kDistSymbols];
    uint8_t clLen[kCodeLenSymbols];
    // Run-length coded lengths: code-length symbols and their repeat values.
    uint8_t rleSymbol[kMaxRleSymbols];
    uint8_t rleExtra[kMaxRleSymbols];

    // Symbol counts of the pending items, kept as they are recorded (for dynamic codes).
    uint16_t litFreq[kLitLenSymbols];
    uint16_t distFreq[kDistSymbols];
    // Length codes of the block being written, by length - 3: the symbol's code with the
    // extra bits above it, and their total number of bits.
    uint32_t lengthCode[256];
    uint8_t lengthBits[256];
};

// Offsets inside the state block, from its first 64-byte boundary.
inline constexpr size_t kStateAlign = 64;
inline constexpr size_t kHeadsOffset = kWindowRegion;
inline constexpr size_t kContextOffset = kHeadsOffset + kHashSize * 2;
static_assert(kHeadsOffset % kStateAlign == 0);
static_assert(kStateAlign - 1 + kContextOffset + sizeof(Context) <= kDeflateStateSize,
              "the state layout must fit the reported block size at any alignment");
static_assert(kFlagBytes + kBlockItems * 3 == kDeflateItemSize);
static_assert(kWindowSize * 2 == kDeflateLinkSize);

// One call's view of the stream: the three blocks and the caller's buffers and settings.
struct Engine {
    Context* ctx;
    uint8_t* window;
    uint16_t* heads;
    LinkEntry* links;
    uint8_t* items;
    uint32_t chainLimit;  // clamped to 10..2048
    bool dynamic;
    bool finish;
    const uint8_t* in;
    uint32_t inLeft;
    uint8_t* out;
    uint32_t outLeft;
};

// Maps the regions of a state block.
inline uint8_t* AlignedState(void* state) {
    const uintptr_t at = reinterpret_cast<uintptr_t>(state);
    return static_cast<uint8_t*>(state) + ((kStateAlign - at % kStateAlign) % kStateAlign);
}

// ---- deflate_match.cpp ---------------------------------------------------------------------

// Empties every head and link that points into chunk `chunk`, before it is refilled.
void ScrubChunk(Engine& e, unsigned chunk);

// One way of emptying the entries of [first, last) whose value lies in `chunk` (value >> 12);
// every path leaves the same entries. The CPU's paths, the portable one first and the one
// ScrubChunk uses last, for tests that hold them against each other.
struct ScrubPath {
    const char* name;  // "portable", "avx2" or "avx512bw"
    void (*scrub)(LinkEntry* first, LinkEntry* last, unsigned chunk);
};
std::span<const ScrubPath> ScrubEntryPaths();
// Hashes the chunk just filled: links and heads for all but its last two positions.
void InsertChunk(Engine& e);
// Parses the current chunk into items. False: the item buffer filled a block, which must be
// written before parsing resumes; true: the chunk is done.
bool ParseChunk(Engine& e);

// ---- deflate_huffman.cpp -------------------------------------------------------------------

// Builds a length-limited Huffman code: lengths from frequencies (0 for unused symbols) and
// the canonical codes, stored bit-reversed.
void BuildHuffmanCode(const uint16_t* freq, unsigned count, unsigned maxBits, uint8_t* lengths,
                      uint16_t* codes);
// Chooses the codes for the pending items and sets the block writer going.
void PrepareBlock(Engine& e);
// Writes (on) the prepared block. False: the output space ran out.
bool WriteBlock(Engine& e);
// Writes the complete bytes of the bit writer. False: the output space ran out.
bool DrainBits(Engine& e);

}  // namespace qv::deflate
