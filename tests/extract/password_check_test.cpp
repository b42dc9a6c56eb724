// The password check against a member's 12-byte encryption header, through
// Qv4ZipCheckPassword and its VB32 variant, on members encrypted here with an independent
// implementation of the traditional cipher and on Info-ZIP's.
#include <gtest/gtest.h>

#include <string>

#include "extraction_harness.h"
#include "os.h"
#include "qvarc32.h"
#include "test_support.h"

namespace {

using namespace extracttest;
using qvtest::ScratchDir;

// The traditional PKWARE cipher, written out plainly.
class Cipher {
public:
    explicit Cipher(const std::string& password) {
        for (char c : password) Update(static_cast<uint8_t>(c));
    }
    uint8_t Encrypt(uint8_t plain) {
        const uint32_t t = (keys_[2] & 0xFFFF) | 2;
        const uint8_t out = plain ^ static_cast<uint8_t>((t * (t ^ 1)) >> 8);
        Update(plain);
        return out;
    }

private:
    static uint32_t CrcByte(uint32_t reg, uint8_t b) {
        reg ^= b;
        for (int k = 0; k < 8; ++k) reg = (reg >> 1) ^ (0xEDB88320u & (0u - (reg & 1)));
        return reg;
    }
    void Update(uint8_t c) {
        keys_[0] = CrcByte(keys_[0], c);
        keys_[1] = (keys_[1] + (keys_[0] & 0xFF)) * 134775813u + 1;
        keys_[2] = CrcByte(keys_[2], static_cast<uint8_t>(keys_[1] >> 24));
    }
    uint32_t keys_[3] = {0x12345678u, 0x23456789u, 0x34567890u};
};

// The 12-byte header (check byte last) and the data, encrypted.
Bytes Encrypt(const std::string& password, uint8_t check, const Bytes& data) {
    Cipher cipher(password);
    Bytes out;
    for (int i = 0; i < 11; ++i) out.push_back(cipher.Encrypt(static_cast<uint8_t>(i * 37)));
    out.push_back(cipher.Encrypt(check));
    for (uint8_t b : data) out.push_back(cipher.Encrypt(b));
    return out;
}

class CheckPassword : public ::testing::Test {
protected:
    // An archive file holding just the encrypted bytes, positioned at its start.
    qv::os::FileHandle Header(const Bytes& bytes) {
        const std::string path = dir_.file("h" + std::to_string(count_++));
        qvtest::WriteFile(path, bytes);
        const auto h = qv::os::CreateFile(path, qv::os::kGenericRead, qv::os::kShareRead,
                                          qv::os::kOpenExisting, 0);
        handles_.push_back(h);
        return h;
    }
    void TearDown() override {
        for (auto h : handles_) qv::os::CloseHandle(h);
    }
    static uint32_t Position(qv::os::FileHandle h) {
        return qv::os::SetFilePointer(h, 0, qv::os::kFileCurrent);
    }
    ScratchDir dir_;
    std::vector<qv::os::FileHandle> handles_;
    int count_ = 0;
};

TEST_F(CheckPassword, TheCheckByteIsTheCrcOrWithADescriptorTheTime) {
    DirectoryRecord r{};
    r.flags = 1;
    r.crc32 = 0xAB123456;
    r.time = 0x5C21;
    r.compressedSize = 12 + 5;
    struct Case {
        uint16_t flags;
        uint8_t check;
        const char* password;
        ResultCode result;
    };
    const Case cases[] = {
        {1, 0xAB, "pw", QV_OK},
        {1, 0x5C, "pw", QV_E_PASSWORD_MISMATCH},  // the time counts only with a descriptor
        {9, 0x5C, "pw", QV_OK},
        {9, 0xAB, "pw", QV_OK},
        {1, 0xAB, "pW", QV_E_PASSWORD_MISMATCH},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.flags) + " " + c.password);
        DirectoryRecord record = r;
        record.flags = c.flags;
        const auto h = Header(Encrypt("pw", c.check, Text("hello")));
        EXPECT_EQ(Qv4ZipCheckPassword(h, &record, c.password), c.result);
        EXPECT_EQ(Position(h), 12u);
        EXPECT_EQ(record.compressedSize, c.result == QV_OK ? 5u : 17u);
    }
}

TEST_F(CheckPassword, NothingIsReadWithoutEncryptionOrWithoutAPassword) {
    const auto h = Header(Encrypt("pw", 0xAB, Text("hello")));
    DirectoryRecord record{};
    record.crc32 = 0xAB000000;
    record.compressedSize = 17;
    EXPECT_EQ(Qv4ZipCheckPassword(h, &record, "anything"), QV_OK);  // not encrypted
    EXPECT_EQ(Position(h), 0u);
    EXPECT_EQ(record.compressedSize, 17u);
    record.flags = 1;
    EXPECT_EQ(Qv4ZipCheckPassword(h, &record, ""), QV_E_PASSWORD_MISMATCH);
    EXPECT_EQ(Qv4ZipCheckPassword(h, &record, nullptr), QV_E_PASSWORD_MISMATCH);
    EXPECT_EQ(Position(h), 0u);
    const auto cut = Header(Bytes(11, 0));
    EXPECT_EQ(Qv4ZipCheckPassword(cut, &record, "pw"), QV_E_EOF);
}

TEST_F(CheckPassword, ThePassingCheckLeavesTheKeysForTheData) {
    const auto h = Header(Encrypt("pw", 0xAB, Text("hello")));
    DirectoryRecordVB vb{};
    vb.flags = 1;
    vb.crc32 = 0xAB000000;
    vb.compressedSize = 17;
    ASSERT_EQ(Qv4ZipCheckPasswordVB32(h, &vb, "pw"), QV_OK);
    EXPECT_EQ(vb.compressedSize, 17u);  // the host's record stays as it was
    uint8_t data[5];
    uint32_t done = 0;
    ASSERT_TRUE(qv::os::ReadFile(h, data, 5, &done));
    QvDecryptData(data, 5);
    EXPECT_EQ(Bytes(data, data + 5), Text("hello"));
}

TEST_F(CheckPassword, InfoZipMembersWithDescriptors) {
    ArchiveHandle archive = QV_NO_HANDLE;
    ASSERT_EQ(Qv4ZipOpen(qvtest::DataFile("zip/made-infozip-encrypted-stream-dd.zip").c_str(),
                         QV_OPEN_READ, &archive),
              QV_OK);
    DirectoryRecord record;
    char name[QV_NAME_BUFFER_SIZE];
    ASSERT_EQ(Qv4ZipFindFirst(archive, &record, name, nullptr, 0, nullptr, 0), QV_OK);
    ASSERT_NE(record.flags & 8, 0);
    const uint32_t compressed = record.compressedSize;
    for (const char* password : {"secret", "Secret"}) {
        SCOPED_TRACE(password);
        // Past the local header: its 30 bytes, the name and the extra field.
        uint8_t local[30];
        uint32_t done = 0;
        ASSERT_NE(qv::os::SetFilePointer(archive, static_cast<int32_t>(record.localHeaderOffset),
                                         qv::os::kFileBegin),
                  qv::os::kInvalidPosition);
        ASSERT_TRUE(qv::os::ReadFile(archive, local, 30, &done) && done == 30);
        const int32_t skip = (local[26] | (local[27] << 8)) + (local[28] | (local[29] << 8));
        ASSERT_NE(qv::os::SetFilePointer(archive, skip, qv::os::kFileCurrent),
                  qv::os::kInvalidPosition);
        DirectoryRecord copy = record;
        const bool right = std::string(password) == "secret";
        EXPECT_EQ(Qv4ZipCheckPassword(archive, &copy, password),
                  right ? QV_OK : QV_E_PASSWORD_MISMATCH);
        EXPECT_EQ(copy.compressedSize, right ? compressed - 12 : compressed);
    }
    Qv4ZipClose(&archive);
}

}  // namespace
