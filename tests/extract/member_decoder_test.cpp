// Decoding one member to a file: the method codes, the chunk loop at its edges (empty
// members, a chunk of exactly 65520 bytes, data cut short, streams that never end), progress
// reports, cancelling and failed writes.
#include "member_decoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "extraction_harness.h"
#include "os.h"
#include "qvarc32.h"
#include "status_reporting.h"
#include "test_support.h"

namespace {

using namespace extracttest;
using qvtest::ScratchDir;
namespace os = qv::os;

TEST(MethodCodeOf, FoldsTheDeflateOptionBitsIntoTheCode) {
    struct Case {
        uint16_t method, flags;
        qv::MethodCode code;
    };
    const Case cases[] = {{0, 6, 0},  {1, 0, 9},  {6, 6, 6}, {8, 0, 1},  {8, 2, 2},
                          {8, 4, 3},  {8, 7, 4},  {8, 9, 1}, {10, 0, 5}, {11, 0, 7},
                          {12, 0, 8}, {99, 0, 0}, {2, 0, 0}};
    for (const Case& c : cases)
        EXPECT_EQ(qv::MethodCodeOf(c.method, c.flags), c.code) << c.method << "/" << c.flags;
}

class Decode : public ::testing::Test {
protected:
    // A file holding bytes, open for reading at its start.
    os::FileHandle Input(const Bytes& bytes) {
        const std::string path = dir_.file("in" + std::to_string(count_++));
        qvtest::WriteFile(path, bytes);
        return Keep(os::CreateFile(path, os::kGenericRead, os::kShareRead, os::kOpenExisting, 0));
    }
    os::FileHandle Output(const std::string& name, uint32_t access = os::kGenericReadWrite) {
        outputPath_ = dir_.file(name);
        qvtest::WriteFile(outputPath_, Bytes{});
        return Keep(os::CreateFile(outputPath_, access, os::kShareRead, os::kOpenExisting, 0));
    }
    os::FileHandle Keep(os::FileHandle h) {
        EXPECT_NE(h, os::kInvalidHandle);
        handles_.push_back(h);
        return h;
    }
    void TearDown() override {
        for (auto h : handles_) os::CloseHandle(h);
    }
    ScratchDir dir_;
    std::string outputPath_;
    std::vector<os::FileHandle> handles_;
    int count_ = 0;
};

#ifdef QV_HAVE_ZLIB
TEST_F(Decode, DeflatedMembersAtTheEdgesOfTheChunk) {
    // 65515 bytes at level 0 make one stored block of exactly 65520 bytes: one chunk, the last.
    const Bytes random = qvtest::RandomBytes(65515, 21);
    z_stream z{};
    deflateInit2(&z, 0, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    Bytes stored(70000);
    z.next_in = const_cast<Bytef*>(random.data());
    z.avail_in = static_cast<uInt>(random.size());
    z.next_out = stored.data();
    z.avail_out = static_cast<uInt>(stored.size());
    ASSERT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    stored.resize(z.total_out);
    deflateEnd(&z);
    ASSERT_EQ(stored.size(), 65520u);

    const Bytes text = qvtest::TextBytes(1 << 20, 22);
    struct Case {
        Bytes data, packed;
    };
    int index = 0;
    for (const Case& c : {Case{random, stored}, Case{text, Deflate(text)}}) {
        Bytes archive = c.packed;
        archive.push_back(0x55);  // the next member's first byte must not be read
        const auto in = Input(archive);
        const auto out = Output("out" + std::to_string(index++));
        uint32_t crc = 0;
        ASSERT_EQ(qv::DecodeMemberToFile(in, out, static_cast<int32_t>(c.packed.size()),
                                         static_cast<uint32_t>(c.data.size()),
                                         qv::kCodeDeflateNormal, 0, &crc, false)
                      .code,
                  QV_OK);
        EXPECT_EQ(crc, Crc32(c.data));
        EXPECT_EQ(os::SetFilePointer(in, 0, os::kFileCurrent), c.packed.size());
        EXPECT_EQ(qvtest::ReadFile(outputPath_), c.data);
    }
}

TEST_F(Decode, AStreamCutShortOrThatNeverEndsStopsAtItsData) {
    const Bytes text = qvtest::TextBytes(300000, 23);
    const Bytes packed = Deflate(text);
    for (size_t cut : {packed.size() / 2, packed.size() - 1, size_t{1}}) {
        SCOPED_TRACE(cut);
        const auto in = Input(Bytes(packed.begin(), packed.begin() + cut));
        uint32_t crc = 0;
        EXPECT_EQ(qv::DecodeMemberToFile(in, os::kInvalidHandle, static_cast<int32_t>(cut),
                                         static_cast<uint32_t>(text.size()), qv::kCodeDeflateNormal,
                                         0, &crc, false)
                      .code,
                  QV_OK);
        EXPECT_NE(crc, Crc32(text));  // the CRC shows the damage
    }
    // A stored block that claims more than follows: the decoder waits for input forever.
    Bytes endless = {0x00, 0xFF, 0xFF, 0x00, 0x00};  // not final, stored, LEN 65535
    endless.resize(5 + 1000, 'x');
    const auto in = Input(endless);
    uint32_t crc = 0;
    EXPECT_EQ(qv::DecodeMemberToFile(in, os::kInvalidHandle, static_cast<int32_t>(endless.size()),
                                     1000, qv::kCodeDeflateNormal, 0, &crc, false)
                  .code,
              QV_OK);
}
#endif

TEST_F(Decode, EmptyMembersReadNothingAndHaveCrcZero) {
    const auto in = Input(Text("next member"));
    const auto out = Output("empty.bin");
    StatusCapture capture;
    for (qv::MethodCode code :
         std::vector<qv::MethodCode>{qv::kCodeStored, qv::kCodeDeflateNormal, qv::kCodeMethod12}) {
        uint32_t crc = 1;
        EXPECT_EQ(qv::DecodeMemberToFile(in, out, 0, 0, code, 0, &crc, false).code, QV_OK);
        EXPECT_EQ(crc, 0u);
    }
    EXPECT_EQ(os::SetFilePointer(in, 0, os::kFileCurrent), 0u);
    EXPECT_EQ(capture.script().reports.size(), 3u);  // one report of 0 bytes each
}

TEST_F(Decode, StoredDataIsCopiedChunkByChunk) {
    const Bytes data = qvtest::RandomBytes(200000, 24);
    const auto in = Input(data);
    const auto out = Output("stored.bin");
    StatusCapture capture;
    uint32_t crc = 0;
    ASSERT_EQ(qv::DecodeMemberToFile(in, out, 200000, 200000, qv::kCodeStored, 0, &crc, false).code,
              QV_OK);
    EXPECT_EQ(crc, Crc32(data));
    EXPECT_EQ(qvtest::ReadFile(outputPath_), data);
    std::vector<uint32_t> progress;
    for (const Report& r : capture.script().reports) progress.push_back(r.processed);
    // 0 first, before each of the four chunks, and the size last.
    EXPECT_EQ(progress, (std::vector<uint32_t>{0, 0, 65520, 131040, 196560, 200000}));
}

TEST_F(Decode, FailuresEndTheMember) {
    const Bytes data = qvtest::RandomBytes(100000, 25);
    uint32_t crc = 0;
    // No decoder for the code.
    for (qv::MethodCode code : std::vector<qv::MethodCode>{qv::kCodeMethod10, qv::kCodeMethod11,
                                                           qv::kCodeMethod12, 10, 300})
        EXPECT_EQ(
            qv::DecodeMemberToFile(Input(data), os::kInvalidHandle, 10, 10, code, 0, &crc, false)
                .code,
            QV_E_METHOD)
            << code;
    // The archive ends inside the member.
    EXPECT_EQ(qv::DecodeMemberToFile(Input(data), os::kInvalidHandle, 100001, 100001,
                                     qv::kCodeStored, 0, &crc, false)
                  .code,
              QV_E_EOF);
    // The output cannot be written.
    EXPECT_EQ(qv::DecodeMemberToFile(Input(data), Output("ro.bin", os::kGenericRead), 100000,
                                     100000, qv::kCodeStored, 0, &crc, false)
                  .code,
              QV_E_WRITE);
    // A cancel request ends the member after the current chunk, and is consumed.
    Qv4Cancel();
    EXPECT_EQ(qv::DecodeMemberToFile(Input(data), Output("c.bin"), 100000, 100000, qv::kCodeStored,
                                     0, &crc, false)
                  .code,
              QV_E_CANCELLED);
    EXPECT_EQ(qvtest::ReadFile(outputPath_).size(), 65520u);
    EXPECT_FALSE(qv::CancelPending());
}

}  // namespace
