// crc32.cpp - CRC-32 register update: the constant table, a portable slicing-by-16 path, and
// carry-less multiplication folds for x86 CPUs that offer PCLMULQDQ (and VPCLMULQDQ on 256-bit
// or 512-bit registers), chosen once at run time.
#include "crc32.h"

#include <cstring>

#include "cpu_paths.h"
#include "qvarc32.h"

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define QV_CRC_X86 1
#include <cpuid.h>
#include <immintrin.h>
// GCC for 64-bit Windows spills 256- and 512-bit registers with aligned moves to a stack it
// keeps only 16-byte aligned; there the 128-bit path is the widest.
#if !(defined(_WIN64) && defined(__GNUC__) && !defined(__clang__))
#define QV_CRC_WIDE 1
#endif
#endif

namespace qv::crc32 {

// The reflected CRC-32 table (polynomial 0xEDB88320); entry n is n shifted right eight times,
// XORing the polynomial after each shift that drops a 1 bit.
constexpr uint32_t kCrcTable[256] = {
    0x00000000, 0x77073096, 0xEE0E612C, 0x990951BA, 0x076DC419, 0x706AF48F, 0xE963A535, 0x9E6495A3,
    0x0EDB8832, 0x79DCB8A4, 0xE0D5E91E, 0x97D2D988, 0x09B64C2B, 0x7EB17CBD, 0xE7B82D07, 0x90BF1D91,
    0x1DB71064, 0x6AB020F2, 0xF3B97148, 0x84BE41DE, 0x1ADAD47D, 0x6DDDE4EB, 0xF4D4B551, 0x83D385C7,
    0x136C9856, 0x646BA8C0, 0xFD62F97A, 0x8A65C9EC, 0x14015C4F, 0x63066CD9, 0xFA0F3D63, 0x8D080DF5,
    0x3B6E20C8, 0x4C69105E, 0xD56041E4, 0xA2677172, 0x3C03E4D1, 0x4B04D447, 0xD20D85FD, 0xA50AB56B,
    0x35B5A8FA, 0x42B2986C, 0xDBBBC9D6, 0xACBCF940, 0x32D86CE3, 0x45DF5C75, 0xDCD60DCF, 0xABD13D59,
    0x26D930AC, 0x51DE003A, 0xC8D75180, 0xBFD06116, 0x21B4F4B5, 0x56B3C423, 0xCFBA9599, 0xB8BDA50F,
    0x2802B89E, 0x5F058808, 0xC60CD9B2, 0xB10BE924, 0x2F6F7C87, 0x58684C11, 0xC1611DAB, 0xB6662D3D,
    0x76DC4190, 0x01DB7106, 0x98D220BC, 0xEFD5102A, 0x71B18589, 0x06B6B51F, 0x9FBFE4A5, 0xE8B8D433,
    0x7807C9A2, 0x0F00F934, 0x9609A88E, 0xE10E9818, 0x7F6A0DBB, 0x086D3D2D, 0x91646C97, 0xE6635C01,
    0x6B6B51F4, 0x1C6C6162, 0x856530D8, 0xF262004E, 0x6C0695ED, 0x1B01A57B, 0x8208F4C1, 0xF50FC457,
    0x65B0D9C6, 0x12B7E950, 0x8BBEB8EA, 0xFCB9887C, 0x62DD1DDF, 0x15DA2D49, 0x8CD37CF3, 0xFBD44C65,
    0x4DB26158, 0x3AB551CE, 0xA3BC0074, 0xD4BB30E2, 0x4ADFA541, 0x3DD895D7, 0xA4D1C46D, 0xD3D6F4FB,
    0x4369E96A, 0x346ED9FC, 0xAD678846, 0xDA60B8D0, 0x44042D73, 0x33031DE5, 0xAA0A4C5F, 0xDD0D7CC9,
    0x5005713C, 0x270241AA, 0xBE0B1010, 0xC90C2086, 0x5768B525, 0x206F85B3, 0xB966D409, 0xCE61E49F,
    0x5EDEF90E, 0x29D9C998, 0xB0D09822, 0xC7D7A8B4, 0x59B33D17, 0x2EB40D81, 0xB7BD5C3B, 0xC0BA6CAD,
    0xEDB88320, 0x9ABFB3B6, 0x03B6E20C, 0x74B1D29A, 0xEAD54739, 0x9DD277AF, 0x04DB2615, 0x73DC1683,
    0xE3630B12, 0x94643B84, 0x0D6D6A3E, 0x7A6A5AA8, 0xE40ECF0B, 0x9309FF9D, 0x0A00AE27, 0x7D079EB1,
    0xF00F9344, 0x8708A3D2, 0x1E01F268, 0x6906C2FE, 0xF762575D, 0x806567CB, 0x196C3671, 0x6E6B06E7,
    0xFED41B76, 0x89D32BE0, 0x10DA7A5A, 0x67DD4ACC, 0xF9B9DF6F, 0x8EBEEFF9, 0x17B7BE43, 0x60B08ED5,
    0xD6D6A3E8, 0xA1D1937E, 0x38D8C2C4, 0x4FDFF252, 0xD1BB67F1, 0xA6BC5767, 0x3FB506DD, 0x48B2364B,
    0xD80D2BDA, 0xAF0A1B4C, 0x36034AF6, 0x41047A60, 0xDF60EFC3, 0xA867DF55, 0x316E8EEF, 0x4669BE79,
    0xCB61B38C, 0xBC66831A, 0x256FD2A0, 0x5268E236, 0xCC0C7795, 0xBB0B4703, 0x220216B9, 0x5505262F,
    0xC5BA3BBE, 0xB2BD0B28, 0x2BB45A92, 0x5CB36A04, 0xC2D7FFA7, 0xB5D0CF31, 0x2CD99E8B, 0x5BDEAE1D,
    0x9B64C2B0, 0xEC63F226, 0x756AA39C, 0x026D930A, 0x9C0906A9, 0xEB0E363F, 0x72076785, 0x05005713,
    0x95BF4A82, 0xE2B87A14, 0x7BB12BAE, 0x0CB61B38, 0x92D28E9B, 0xE5D5BE0D, 0x7CDCEFB7, 0x0BDBDF21,
    0x86D3D2D4, 0xF1D4E242, 0x68DDB3F8, 0x1FDA836E, 0x81BE16CD, 0xF6B9265B, 0x6FB077E1, 0x18B74777,
    0x88085AE6, 0xFF0F6A70, 0x66063BCA, 0x11010B5C, 0x8F659EFF, 0xF862AE69, 0x616BFFD3, 0x166CCF45,
    0xA00AE278, 0xD70DD2EE, 0x4E048354, 0x3903B3C2, 0xA7672661, 0xD06016F7, 0x4969474D, 0x3E6E77DB,
    0xAED16A4A, 0xD9D65ADC, 0x40DF0B66, 0x37D83BF0, 0xA9BCAE53, 0xDEBB9EC5, 0x47B2CF7F, 0x30B5FFE9,
    0xBDBDF21C, 0xCABAC28A, 0x53B39330, 0x24B4A3A6, 0xBAD03605, 0xCDD70693, 0x54DE5729, 0x23D967BF,
    0xB3667A2E, 0xC4614AB8, 0x5D681B02, 0x2A6F2B94, 0xB40BBE37, 0xC30C8EA1, 0x5A05DF1B, 0x2D02EF8D,
};

namespace {

// The table's rule, to check the literal values above when compiling.
constexpr uint32_t TableEntry(uint32_t n) {
    for (int i = 0; i < 8; ++i) n = (n & 1) != 0 ? (n >> 1) ^ 0xEDB88320u : n >> 1;
    return n;
}

constexpr bool TableMatchesRule() {
    for (uint32_t n = 0; n < 256; ++n) {
        if (kCrcTable[n] != TableEntry(n)) return false;
    }
    return true;
}
static_assert(TableMatchesRule(), "CRC table must be the table of the reflected polynomial");

// ---- Portable path: slicing by 16 ------------------------------------------------------------

// slice[k][n] is the register contribution of byte n followed by k zero bytes, so 16 bytes are
// folded into the register with 16 independent lookups.
struct SliceTables {
    uint32_t slice[16][256];
};

constexpr SliceTables MakeSliceTables() {
    SliceTables t{};
    for (uint32_t n = 0; n < 256; ++n) t.slice[0][n] = kCrcTable[n];
    for (int k = 1; k < 16; ++k) {
        for (uint32_t n = 0; n < 256; ++n) {
            const uint32_t prev = t.slice[k - 1][n];
            t.slice[k][n] = (prev >> 8) ^ kCrcTable[prev & 0xFF];
        }
    }
    return t;
}

constexpr SliceTables kSlice = MakeSliceTables();

inline uint32_t Load32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

inline uint32_t Slice16Block(uint32_t reg, const uint8_t* p) {
    const auto& t = kSlice.slice;
    const uint32_t a = reg ^ Load32(p);
    return t[15][a & 0xFF] ^ t[14][(a >> 8) & 0xFF] ^ t[13][(a >> 16) & 0xFF] ^ t[12][a >> 24] ^
           t[11][p[4]] ^ t[10][p[5]] ^ t[9][p[6]] ^ t[8][p[7]] ^ t[7][p[8]] ^ t[6][p[9]] ^
           t[5][p[10]] ^ t[4][p[11]] ^ t[3][p[12]] ^ t[2][p[13]] ^ t[1][p[14]] ^ t[0][p[15]];
}

uint32_t Slice16(uint32_t reg, const uint8_t* p, size_t n) {
    for (; n >= 16; p += 16, n -= 16) reg = Slice16Block(reg, p);
    for (; n > 0; ++p, --n) reg = UpdateByte(reg, *p);
    return reg;
}

#ifdef QV_CRC_X86

// ---- Folding with carry-less multiplication ----------------------------------------------------
//
// The register is XORed into the stream's first four bytes; the stream is then a polynomial
// over GF(2) whose raw CRC is that polynomial times x^32 modulo the CRC polynomial. A 128-bit
// lane (first byte in its low bits, the highest power) is moved D bits further down the
// stream by multiplying its two 64-bit halves by x^(D+32) and x^(D-32) modulo the polynomial
// (bit-reflected, shifted left by one to suit the reflected product) and adding the result to
// the data found there. That keeps the residue of the whole stream, so the last 16 bytes of
// folded data, run through the table from a zero register, give the register of the stream.

constexpr uint32_t Reflect32(uint32_t v) {
    uint32_t r = 0;
    for (int i = 0; i < 32; ++i, v >>= 1) r = (r << 1) | (v & 1);
    return r;
}

// (x^exponent mod P), bit-reflected and shifted left by one: a 33-bit multiplier.
constexpr uint64_t FoldMultiplier(unsigned exponent) {
    uint64_t r = 1;
    for (unsigned i = 0; i < exponent; ++i) {
        r <<= 1;
        if ((r >> 32) != 0) r ^= 0x104C11DB7ull;  // x^32 + the IEEE 802.3 polynomial
    }
    return static_cast<uint64_t>(Reflect32(static_cast<uint32_t>(r))) << 1;
}

struct FoldPair {
    uint64_t low;   // multiplies the lane's first 8 bytes
    uint64_t high;  // multiplies its last 8 bytes
};

constexpr FoldPair Fold(unsigned bits) {
    return {FoldMultiplier(bits + 32), FoldMultiplier(bits - 32)};
}

// Checked against the published constants for 128- and 512-bit folds.
static_assert(Fold(128).low == 0x1751997D0ull && Fold(128).high == 0x0CCAA009Eull);
static_assert(Fold(512).low == 0x154442BD4ull && Fold(512).high == 0x1C6E41596ull);

constexpr FoldPair kFold128 = Fold(128);
constexpr FoldPair kFold256 = Fold(256);
constexpr FoldPair kFold384 = Fold(384);
constexpr FoldPair kFold512 = Fold(512);
constexpr FoldPair kFold1024 = Fold(1024);
constexpr FoldPair kFold2048 = Fold(2048);

#define QV_TARGET_PCLMUL __attribute__((target("sse2,pclmul")))
#define QV_TARGET_AVX2 __attribute__((target("sse2,pclmul,avx,avx2,vpclmulqdq")))
#define QV_TARGET_AVX512 __attribute__((target("sse2,pclmul,avx,avx2,avx512f,avx512vl,vpclmulqdq")))

QV_TARGET_PCLMUL inline __m128i Pair128(FoldPair k) {
    return _mm_set_epi64x(static_cast<long long>(k.high), static_cast<long long>(k.low));
}

QV_TARGET_PCLMUL inline __m128i Fold128(__m128i lane, __m128i k) {
    return _mm_xor_si128(_mm_clmulepi64_si128(lane, k, 0x00), _mm_clmulepi64_si128(lane, k, 0x11));
}

QV_TARGET_PCLMUL inline __m128i Load128(const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// Ends a fold: runs the 16 bytes of `lane` through the table, then the tail.
QV_TARGET_PCLMUL uint32_t FinishLane(__m128i lane, const uint8_t* tail, size_t n) {
    uint8_t bytes[16];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes), lane);
    return Slice16(Slice16Block(0, bytes), tail, n);
}

// 128-bit lanes: eight in parallel (enough to cover the multiplier's latency), then one.
// Needs n >= 128.
QV_TARGET_PCLMUL uint32_t FoldPclmul(uint32_t reg, const uint8_t* p, size_t n) {
    const __m128i k1024 = Pair128(kFold1024);
    const __m128i k128 = Pair128(kFold128);
    __m128i x[8];
    for (int i = 0; i < 8; ++i) x[i] = Load128(p + 16 * i);
    x[0] = _mm_xor_si128(x[0], _mm_cvtsi32_si128(static_cast<int>(reg)));
    p += 128;
    n -= 128;
    for (; n >= 128; p += 128, n -= 128) {
        for (int i = 0; i < 8; ++i) x[i] = _mm_xor_si128(Fold128(x[i], k1024), Load128(p + 16 * i));
    }
    for (int i = 1; i < 8; ++i) x[i] = _mm_xor_si128(Fold128(x[i - 1], k128), x[i]);
    __m128i lane = x[7];
    for (; n >= 16; p += 16, n -= 16) lane = _mm_xor_si128(Fold128(lane, k128), Load128(p));
    return FinishLane(lane, p, n);
}

#ifdef QV_CRC_WIDE

QV_TARGET_AVX2 inline __m256i Pair256(FoldPair k) {
    const auto low = static_cast<long long>(k.low), high = static_cast<long long>(k.high);
    return _mm256_set_epi64x(high, low, high, low);
}

QV_TARGET_AVX2 inline __m256i Fold256(__m256i lanes, __m256i k) {
    return _mm256_xor_si256(_mm256_clmulepi64_epi128(lanes, k, 0x00),
                            _mm256_clmulepi64_epi128(lanes, k, 0x11));
}

QV_TARGET_AVX2 inline __m256i Load256(const uint8_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// Eight 128-bit lanes in four 256-bit registers (128 bytes a round). Needs n >= 128.
QV_TARGET_AVX2 uint32_t FoldAvx2(uint32_t reg, const uint8_t* p, size_t n) {
    const __m256i k1024 = Pair256(kFold1024);
    const __m256i k256 = Pair256(kFold256);
    __m256i x[4];
    for (int i = 0; i < 4; ++i) x[i] = Load256(p + 32 * i);
    x[0] = _mm256_xor_si256(x[0], _mm256_zextsi128_si256(_mm_cvtsi32_si128(static_cast<int>(reg))));
    p += 128;
    n -= 128;
    for (; n >= 128; p += 128, n -= 128) {
        for (int i = 0; i < 4; ++i)
            x[i] = _mm256_xor_si256(Fold256(x[i], k1024), Load256(p + 32 * i));
    }
    for (int i = 1; i < 4; ++i) x[i] = _mm256_xor_si256(Fold256(x[i - 1], k256), x[i]);
    for (; n >= 32; p += 32, n -= 32) x[3] = _mm256_xor_si256(Fold256(x[3], k256), Load256(p));
    // The register's two lanes lie 128 and 0 bits before its end.
    __m128i lane = _mm_xor_si128(_mm256_extracti128_si256(x[3], 1),
                                 Fold128(_mm256_castsi256_si128(x[3]), Pair128(kFold128)));
    const __m128i k128 = Pair128(kFold128);
    for (; n >= 16; p += 16, n -= 16) lane = _mm_xor_si128(Fold128(lane, k128), Load128(p));
    return FinishLane(lane, p, n);
}

QV_TARGET_AVX512 inline __m512i Pair512(FoldPair k) {
    const auto low = static_cast<long long>(k.low), high = static_cast<long long>(k.high);
    return _mm512_set_epi64(high, low, high, low, high, low, high, low);
}

// Four 128-bit lanes per register: a XOR b XOR c in one instruction (truth table 0x96).
QV_TARGET_AVX512 inline __m512i Fold512(__m512i lanes, __m512i k, __m512i data) {
    return _mm512_ternarylogic_epi32(_mm512_clmulepi64_epi128(lanes, k, 0x00),
                                     _mm512_clmulepi64_epi128(lanes, k, 0x11), data, 0x96);
}

QV_TARGET_AVX512 inline __m512i Load512(const uint8_t* p) {
    return _mm512_loadu_si512(p);
}

// Lane I of a register (the masked form: the plain one trips GCC 12's uninitialized warning).
template <int I>
QV_TARGET_AVX512 inline __m128i Lane(__m512i x) {
    return _mm512_maskz_extracti32x4_epi32(0xF, x, I);
}

// Sixteen 128-bit lanes in four registers (256 bytes a round). Needs n >= 256.
QV_TARGET_AVX512 uint32_t FoldAvx512(uint32_t reg, const uint8_t* p, size_t n) {
    const __m512i k2048 = Pair512(kFold2048);
    const __m512i k512 = Pair512(kFold512);
    const __m512i start =
        _mm512_inserti32x4(_mm512_setzero_si512(), _mm_cvtsi32_si128(static_cast<int>(reg)), 0);
    __m512i x0 = _mm512_xor_si512(Load512(p), start);
    __m512i x1 = Load512(p + 64);
    __m512i x2 = Load512(p + 128);
    __m512i x3 = Load512(p + 192);
    p += 256;
    n -= 256;
    for (; n >= 256; p += 256, n -= 256) {
        x0 = Fold512(x0, k2048, Load512(p));
        x1 = Fold512(x1, k2048, Load512(p + 64));
        x2 = Fold512(x2, k2048, Load512(p + 128));
        x3 = Fold512(x3, k2048, Load512(p + 192));
    }
    x1 = Fold512(x0, k512, x1);
    x2 = Fold512(x1, k512, x2);
    x3 = Fold512(x2, k512, x3);
    for (; n >= 64; p += 64, n -= 64) x3 = Fold512(x3, k512, Load512(p));
    // The register's four lanes lie 384, 256, 128 and 0 bits before its end.
    __m128i lane = Lane<3>(x3);
    lane = _mm_xor_si128(lane, Fold128(Lane<2>(x3), Pair128(kFold128)));
    lane = _mm_xor_si128(lane, Fold128(Lane<1>(x3), Pair128(kFold256)));
    lane = _mm_xor_si128(lane, Fold128(Lane<0>(x3), Pair128(kFold384)));
    const __m128i k128 = Pair128(kFold128);
    for (; n >= 16; p += 16, n -= 16) lane = _mm_xor_si128(Fold128(lane, k128), Load128(p));
    return FinishLane(lane, p, n);
}

#endif  // QV_CRC_WIDE

// Below these sizes the table is as fast as setting up a fold.
constexpr size_t kPclmulMin = 128;
constexpr size_t kAvx512Min = 512;

// Paths for any size: each hands what it cannot fold to the next simpler one.
uint32_t BulkPclmul(uint32_t reg, const uint8_t* p, size_t n) {
    return n >= kPclmulMin ? FoldPclmul(reg, p, n) : Slice16(reg, p, n);
}

#ifdef QV_CRC_WIDE

uint32_t BulkAvx2(uint32_t reg, const uint8_t* p, size_t n) {
    return n >= kPclmulMin ? FoldAvx2(reg, p, n) : Slice16(reg, p, n);
}

uint32_t BulkAvx512(uint32_t reg, const uint8_t* p, size_t n) {
    return n >= kAvx512Min ? FoldAvx512(reg, p, n) : BulkAvx2(reg, p, n);
}

// XCR0: which register sets the operating system saves on a context switch.
uint64_t EnabledStateMask() {
    uint32_t eax = 0, edx = 0;
    __asm__ volatile("xgetbv" : "=a"(eax), "=d"(edx) : "c"(0));
    return (static_cast<uint64_t>(edx) << 32) | eax;
}

#endif  // QV_CRC_WIDE

using CrcPaths = CpuPaths<Crc32Path, 4>;

CrcPaths DetectPaths() {
    CrcPaths found;
    found.Add({"slice16", Slice16});
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return found;
    const bool pclmul = (ecx & (1u << 1)) != 0;
    const bool osxsave = (ecx & (1u << 27)) != 0;
    const bool avx = (ecx & (1u << 28)) != 0;
    if (!pclmul) return found;
    found.Add({"pclmulqdq", BulkPclmul});
    // Wider folds need the operating system to save the YMM (and for AVX-512 the opmask and
    // ZMM) registers: XCR0 bits 1-2, and 5-7.
#ifndef QV_CRC_WIDE
    (void)osxsave, (void)avx;
    return found;
#else
    if (!osxsave || __get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0) return found;
    const uint64_t saved = EnabledStateMask();
    const bool avx2 = avx && (ebx & (1u << 5)) != 0 && (saved & 0x6) == 0x6;
    const bool vpclmul = (ecx & (1u << 10)) != 0;
    if (!avx2 || !vpclmul) return found;
    found.Add({"vpclmulqdq-avx2", BulkAvx2});
    const bool avx512 = (ebx & (1u << 16)) != 0 && (ebx & (1u << 31)) != 0 &&  // F and VL
                        (saved & 0xE6) == 0xE6;
    if (avx512) found.Add({"vpclmulqdq-avx512", BulkAvx512});
    return found;
#endif
}

// The CPU does not change while the process runs: the paths are found once.
const CrcPaths& Detected() {
    static const CrcPaths paths = DetectPaths();
    return paths;
}

// What Crc32Update runs for inputs of kPclmulMin bytes and more: the fastest path found.
const Crc32Path& BulkPath() {
    static const Crc32Path& path = Detected().Chosen();
    return path;
}

#endif  // QV_CRC_X86

}  // namespace

uint32_t Crc32Update(uint32_t reg, const uint8_t* data, size_t size) {
#ifdef QV_CRC_X86
    if (size >= kPclmulMin) return BulkPath().update(reg, data, size);
#endif
    return Slice16(reg, data, size);
}

std::span<const Crc32Path> Crc32Paths() {
#ifdef QV_CRC_X86
    return Detected().All();
#else
    static constexpr Crc32Path kPortable[] = {{"slice16", Slice16}};
    return kPortable;
#endif
}

}  // namespace qv::crc32

QV_API uint32_t QV_CALL QvCrc32A(const void* buffer, uint32_t length, uint32_t crc) {
    if (buffer == nullptr) return crc;
    return qv::crc32::Crc32Update(crc, static_cast<const uint8_t*>(buffer), length);
}
