// Traditional encryption through the exports: the header generator's values, streams in pieces,
// members of an Info-ZIP archive decrypted, and members we encrypt read back by Info-ZIP unzip
// and Python's zipfile (two independent implementations of the cipher).
#include "traditional_cipher.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "qvarc32.h"
#include "test_support.h"

namespace {

using qvtest::Bytes;

Bytes B(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

uint32_t ZipCrc(const Bytes& data) {
    return ~QvCrc32A(data.data(), static_cast<uint32_t>(data.size()), 0xFFFFFFFFu);
}

Bytes Encrypt(const Bytes& password, Bytes data) {
    QvInitKeys(password.data(), static_cast<uint32_t>(password.size()));
    QvEncryptData(data.data(), static_cast<uint32_t>(data.size()));
    return data;
}

Bytes Decrypt(const Bytes& password, Bytes data) {
    QvInitKeys(password.data(), static_cast<uint32_t>(password.size()));
    QvDecryptData(data.data(), static_cast<uint32_t>(data.size()));
    return data;
}

TEST(TraditionalCipher, HeaderGeneratorValues) {
    struct Case {
        uint16_t milliseconds;
        uint32_t check;
        uint8_t header[12];
    };
    const Case cases[] = {
        {0, 0x12345678u, {0x46, 0xA7, 0xA6, 0x99, 0xA8, 0xB7, 0xB8, 0x33, 0xE4, 0x7F, 0x34, 0x12}},
        {999,
         0xCBF43926u,
         {0xE9, 0x1E, 0xE7, 0x92, 0x3F, 0xE0, 0x5F, 0x78, 0x7D, 0x92, 0xF4, 0xCB}},
    };
    for (const Case& c : cases) {
        uint8_t header[12] = {};
        qv::cipher::BuildHeader(header, c.check, c.milliseconds);
        EXPECT_EQ(0, std::memcmp(header, c.header, 12)) << c.milliseconds;
    }
}

TEST(TraditionalCipher, InitHeaderUsesTheClockAndLeavesTheKeysAlone) {
    const Bytes password = B("pw");
    const Bytes plain = B("some member data");
    QvInitKeys(password.data(), 2);
    uint8_t header[12];
    QvInitHeader(header, 0xA1B2C3D4u);
    EXPECT_EQ(header[10], 0xB2);
    EXPECT_EQ(header[11], 0xA1);
    // The ten leading bytes are those of some millisecond reading.
    bool found = false;
    for (uint16_t ms = 0; ms < 1000 && !found; ++ms) {
        uint8_t expected[12];
        qv::cipher::BuildHeader(expected, 0xA1B2C3D4u, ms);
        found = std::memcmp(header, expected, 12) == 0;
    }
    EXPECT_TRUE(found);
    // The stream started before the header was built is undisturbed.
    Bytes data = plain;
    QvEncryptData(data.data(), static_cast<uint32_t>(data.size()));
    EXPECT_EQ(data, Encrypt(password, plain));
}

TEST(TraditionalCipher, StreamsInPiecesMatchOneCall) {
    const Bytes password = B("Correct Horse");
    const Bytes plain = qvtest::TextBytes(5000, 3);
    const Bytes whole = Encrypt(password, plain);
    ASSERT_NE(whole, plain);
    ASSERT_EQ(Decrypt(password, whole), plain);

    // Piece patterns: single bytes, a 12-byte header then the rest, odd sizes, empty pieces.
    const std::vector<std::vector<size_t>> patterns = {{1}, {12, 4988}, {0, 7, 0, 333}, {4999, 1}};
    for (const auto& pattern : patterns) {
        for (bool encrypt : {true, false}) {
            Bytes data = encrypt ? plain : whole;
            QvInitKeys(password.data(), static_cast<uint32_t>(password.size()));
            size_t at = 0;
            for (size_t i = 0; at < data.size(); ++i) {
                const size_t piece = std::min(pattern[i % pattern.size()], data.size() - at);
                if (encrypt) {
                    QvEncryptData(data.data() + at, static_cast<uint32_t>(piece));
                } else {
                    QvDecryptData(data.data() + at, static_cast<uint32_t>(piece));
                }
                at += piece;
            }
            EXPECT_EQ(data, encrypt ? whole : plain);
        }
    }
}

TEST(TraditionalCipher, PasswordLengthAndRestart) {
    const Bytes plain = B("0123456789abcdef");
    const Bytes password = B("abcdef");
    // Only the low 16 bits of the length count.
    Bytes a = plain;
    QvInitKeys(password.data(), 0x10003u);
    QvEncryptData(a.data(), static_cast<uint32_t>(a.size()));
    EXPECT_EQ(a, Encrypt(B("abc"), plain));
    // A password of no bytes still scrambles (the initial keys alone), and every QvInitKeys
    // restarts the stream from scratch.
    const Bytes empty = Encrypt({}, plain);
    EXPECT_NE(empty, plain);
    EXPECT_EQ(Encrypt({}, plain), empty);
    EXPECT_NE(Encrypt(B("abd"), plain), Encrypt(B("abc"), plain));
}

// ---- Interoperation -------------------------------------------------------------------------

uint16_t Get16(const Bytes& b, size_t at) {
    return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}
uint32_t Get32(const Bytes& b, size_t at) {
    return Get16(b, at) | static_cast<uint32_t>(Get16(b, at + 2)) << 16;
}

TEST(TraditionalCipher, DecryptsInfoZipMembers) {
    // Info-ZIP zip -0 -P secret: two stored members, each with a data descriptor (flag bit 3),
    // so the header's check byte is the high byte of the DOS time rather than of the CRC.
    const Bytes zip = qvtest::ReadFile(qvtest::DataFile("zip/made-infozip-encrypted-stored.zip"));
    const Bytes password = B("secret");
    size_t at = 0;
    int members = 0;
    while (at + 30 <= zip.size() && Get32(zip, at) == 0x04034B50u) {  // local header signature
        const uint16_t flags = Get16(zip, at + 6);
        const uint16_t time = Get16(zip, at + 10);
        const uint32_t crc = Get32(zip, at + 14);
        const uint32_t packed = Get32(zip, at + 18);
        const uint32_t size = Get32(zip, at + 22);
        const size_t data = at + 30 + Get16(zip, at + 26) + Get16(zip, at + 28);
        ASSERT_EQ(flags & 9, 9);  // encrypted, data descriptor
        ASSERT_EQ(packed, size + 12);
        ASSERT_LE(data + packed, zip.size());
        const Bytes plain =
            Decrypt(password, Bytes(zip.begin() + data, zip.begin() + data + packed));
        EXPECT_EQ(plain[11], time >> 8);
        const Bytes content(plain.begin() + 12, plain.end());
        EXPECT_EQ(ZipCrc(content), crc);
        if (members == 0) {
            EXPECT_EQ(content, B("Hello, world!\r\n"));
        }
        // A wrong password gives another check byte (for these members; 1 in 256 would collide).
        EXPECT_NE(Decrypt(B("Secret"), Bytes(zip.begin() + data, zip.begin() + data + 12))[11],
                  time >> 8);
        at = data + packed + 16;  // past the signed data descriptor
        ++members;
    }
    EXPECT_EQ(members, 2);
}

// A ZIP archive of stored members encrypted with our exports, as the archive writer lays them
// out: header from QvInitHeader with the member's CRC, then the data, one key stream.
struct Member {
    std::string name;
    Bytes content;
};

void Put16(Bytes& b, uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(Bytes& b, uint32_t v) {
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}

Bytes EncryptedStoredZip(const std::vector<Member>& members, const Bytes& password) {
    Bytes zip, directory;
    for (const Member& m : members) {
        const uint32_t crc = ZipCrc(m.content);
        Bytes body(12);
        QvInitHeader(body.data(), crc);
        body.insert(body.end(), m.content.begin(), m.content.end());
        QvInitKeys(password.data(), static_cast<uint32_t>(password.size()));
        QvEncryptData(body.data(), 12);
        QvEncryptData(body.data() + 12, static_cast<uint32_t>(body.size() - 12));
        const uint32_t offset = static_cast<uint32_t>(zip.size());
        auto common = [&](Bytes& r) {
            Put16(r, 20), Put16(r, 1), Put16(r, 0);  // version, encrypted, stored
            Put16(r, 0x2000), Put16(r, 0x2A43);      // 04:00:00, 2001-02-03
            Put32(r, crc), Put32(r, static_cast<uint32_t>(body.size()));
            Put32(r, static_cast<uint32_t>(m.content.size()));
            Put16(r, static_cast<uint32_t>(m.name.size())), Put16(r, 0);
        };
        Put32(zip, 0x04034B50u);
        common(zip);
        zip.insert(zip.end(), m.name.begin(), m.name.end());
        zip.insert(zip.end(), body.begin(), body.end());
        Put32(directory, 0x02014B50u);
        Put16(directory, 20);
        common(directory);
        Put16(directory, 0), Put16(directory, 0), Put16(directory, 0);  // comment, disk, internal
        Put32(directory, 0), Put32(directory, offset);
        directory.insert(directory.end(), m.name.begin(), m.name.end());
    }
    const uint32_t dirOffset = static_cast<uint32_t>(zip.size());
    zip.insert(zip.end(), directory.begin(), directory.end());
    Put32(zip, 0x06054B50u);
    Put16(zip, 0), Put16(zip, 0);
    Put16(zip, static_cast<uint32_t>(members.size())),
        Put16(zip, static_cast<uint32_t>(members.size()));
    Put32(zip, static_cast<uint32_t>(directory.size())), Put32(zip, dirOffset);
    Put16(zip, 0);
    return zip;
}

const std::vector<Member>& SampleMembers() {
    static const std::vector<Member> members = {
        {"HELLO.TXT", B("Hello, world!\r\n")},
        {"TEXT.TXT", qvtest::TextBytes(70000, 9)},
        {"NOISE.BIN", qvtest::RandomBytes(3001, 4)},
        {"EMPTY.TXT", {}},
    };
    return members;
}

TEST(TraditionalCipher, InfoZipUnzipExtractsWhatWeEncrypt) {
    if (!qvtest::HaveTool("unzip")) GTEST_SKIP() << "unzip not installed";
    qvtest::ScratchDir dir;
    const std::string zipPath = dir.file("ours.zip");
    qvtest::WriteFile(zipPath, EncryptedStoredZip(SampleMembers(), B("s3cr3t pass")));
    for (const Member& m : SampleMembers()) {
        const std::string out = dir.file(m.name + ".out");
        ASSERT_EQ(qvtest::RunCommand("unzip -p -P 's3cr3t pass' '" + zipPath + "' " + m.name +
                                     " > '" + out + "' 2>/dev/null"),
                  0)
            << m.name;
        EXPECT_EQ(qvtest::ReadFile(out), m.content) << m.name;
    }
    // With the wrong password unzip refuses (the check byte does not match).
    EXPECT_NE(qvtest::RunCommand("unzip -t -P wrong '" + zipPath + "' HELLO.TXT >/dev/null 2>&1"),
              0);
}

TEST(TraditionalCipher, PythonZipfileReadsWhatWeEncrypt) {
    if (!qvtest::HaveTool("python3")) GTEST_SKIP() << "python3 not installed";
    qvtest::ScratchDir dir;
    const std::string zipPath = dir.file("ours.zip");
    // Password bytes above 127 (Latin-1 "pässwörd") are fed as they are.
    const Bytes password = {'p', 0xE4, 's', 's', 'w', 0xF6, 'r', 'd'};
    qvtest::WriteFile(zipPath, EncryptedStoredZip(SampleMembers(), password));
    const std::string script = dir.file("read.py");
    qvtest::WriteFile(script,
                      "import sys, zipfile\n"
                      "z = zipfile.ZipFile(sys.argv[1])\n"
                      "pwd = bytes([0x70, 0xE4, 0x73, 0x73, 0x77, 0xF6, 0x72, 0x64])\n"
                      "for n in z.namelist():\n"
                      "    open(sys.argv[2] + '/' + n + '.py', 'wb').write(z.read(n, pwd=pwd))\n"
                      "try:\n"
                      "    z.read('HELLO.TXT', pwd=b'wrong')\n"
                      "    sys.exit(3)\n"
                      // One wrong password in 256 passes the check byte and is then caught
                      // by the CRC: both are a refusal.
                      "except (RuntimeError, zipfile.BadZipFile):\n"
                      "    pass\n");
    ASSERT_EQ(qvtest::RunCommand("python3 '" + script + "' '" + zipPath + "' '" +
                                 dir.path().string() + "'"),
              0);
    for (const Member& m : SampleMembers()) {
        EXPECT_EQ(qvtest::ReadFile(dir.file(m.name + ".py")), m.content) << m.name;
    }
}

}  // namespace
