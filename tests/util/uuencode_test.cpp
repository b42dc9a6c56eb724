// UUencode and UUdecode through Qv4UUEncode and Qv4UUDecode: the text written, part series,
// bad input, and interoperation with GNU sharutils' uuencode and uudecode.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "qvarc32.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using qvtest::Bytes;
using qvtest::ScratchDir;

Bytes B(const std::string& s) {
    return Bytes(s.begin(), s.end());
}
std::string S(const Bytes& b) {
    return std::string(b.begin(), b.end());
}

std::vector<std::string> Lines(const std::string& text, const std::string& eol = "\r\n") {
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < text.size()) {
        const size_t end = text.find(eol, at);
        if (end == std::string::npos) {
            lines.push_back(text.substr(at));
            break;
        }
        lines.push_back(text.substr(at, end - at));
        at = end + eol.size();
    }
    return lines;
}

// Names of the files in a directory, sorted.
std::vector<std::string> Names(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string Quote(const std::string& s) {
    return "'" + s + "'";
}

const std::string kBeginSeparator = "BEGIN------------------CUT HERE-----------------cut here-----";
const std::string kEndSeparator = "END--------------------CUT HERE-----------------cut here-----";

// Encodes `data` saved as dir/name into dir/output; returns the result.
ResultCode Encode(const ScratchDir& dir, const std::string& name, const Bytes& data,
                  const std::string& output, int32_t split, int32_t separators, uint16_t* parts) {
    const std::string src = dir.file(name);
    qvtest::WriteFile(src, data);
    const std::string out = output.empty() ? std::string() : dir.file(output);
    return Qv4UUEncode(src.c_str(), out.c_str(), split, separators, parts);
}

// Decodes `text` saved as dir/"in.uue" into a fresh directory dir/out.
ResultCode DecodeText(const ScratchDir& dir, const std::string& text) {
    const std::string src = dir.file("in.uue");
    qvtest::WriteFile(src, text);
    fs::create_directories(dir.path() / "out");
    return Qv4UUDecode(src.c_str(), (dir.path() / "out").string().c_str());
}

// ---- The text written ---------------------------------------------------------------------

TEST(UuEncode, FullLineOf45Bytes) {
    ScratchDir dir;
    Bytes data(45);
    for (int i = 0; i < 45; ++i) data[i] = static_cast<uint8_t>(i);
    uint16_t parts = 0;
    ASSERT_EQ(Encode(dir, "data.bin", data, "", 0, 0, &parts), QV_OK);
    EXPECT_EQ(parts, 1);
    // Without an output name the text goes to the source's name with ".uue".
    const std::string text = S(qvtest::ReadFile(dir.file("data.uue")));
    EXPECT_EQ(text,
              "begin 644 data.bin\r\n"
              R"uu(M``$"`P0%!@<("0H+#`T.#Q`1$A,4%187&!D:&QP='A\@(2(C)"4F)R@I*BLL)uu"
              "\r\n`\r\nend\r\n45\r\n");
}

TEST(UuEncode, OneZeroByteAndItsPadding) {
    ScratchDir dir;
    uint16_t parts = 0;
    ASSERT_EQ(Encode(dir, "zero", Bytes{0}, "z.txt", 0, 0, &parts), QV_OK);
    // An output name with an extension is used as it is; zero values are backquotes.
    const std::string text = S(qvtest::ReadFile(dir.file("z.txt")));
    EXPECT_EQ(text, "begin 644 zero\r\n!````\r\n`\r\nend\r\n1\r\n");
    fs::remove(dir.file("zero"));
    ASSERT_EQ(Qv4UUDecode(dir.file("z.txt").c_str(), nullptr), QV_OK);
    EXPECT_EQ(qvtest::ReadFile(dir.file("zero")), Bytes{0});
}

TEST(UuEncode, CutHereLines) {
    ScratchDir dir;
    uint16_t parts = 0;
    ASSERT_EQ(Encode(dir, "abc.txt", B("abc"), "framed", 0, 1, &parts), QV_OK);
    const auto lines = Lines(S(qvtest::ReadFile(dir.file("framed.uue"))));
    const std::vector<std::string> expected = {
        kBeginSeparator, "begin 644 abc.txt", "#86)C", "`", "end", "3", kEndSeparator};
    EXPECT_EQ(lines, expected);
}

TEST(UuEncode, EmptySourceMakesNoOutput) {
    ScratchDir dir;
    uint16_t parts = 0;
    EXPECT_EQ(Encode(dir, "empty.bin", Bytes{}, "", 0, 1, &parts), QV_E_WRITE);
    EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"empty.bin"});
}

TEST(UuEncode, RoundTrips) {
    struct {
        size_t size;
        int32_t separators;
    } const cases[] = {{1, 0},  {2, 0},  {3, 1},  {44, 0},   {45, 1},     {46, 0},
                       {89, 0}, {90, 0}, {91, 1}, {1000, 0}, {200000, 1}, {1 << 20, 0}};
    for (const auto& c : cases) {
        ScratchDir dir;
        const Bytes data = qvtest::RandomBytes(c.size, static_cast<uint32_t>(c.size));
        uint16_t parts = 0;
        ASSERT_EQ(Encode(dir, "file.dat", data, "", 0, c.separators, &parts), QV_OK) << c.size;
        // Decode next to the text, in another directory, naming the source without ".uue".
        fs::create_directories(dir.path() / "elsewhere");
        fs::rename(dir.file("file.uue"), dir.path() / "elsewhere" / "file.uue");
        const std::string noExtension = (dir.path() / "elsewhere" / "file").string();
        ASSERT_EQ(Qv4UUDecode(noExtension.c_str(), ""), QV_OK) << c.size;
        EXPECT_EQ(qvtest::ReadFile((dir.path() / "elsewhere" / "file.dat").string()), data)
            << c.size;
    }
}

// ---- Part series --------------------------------------------------------------------------

TEST(UuEncode, PartSeries) {
    struct {
        size_t size;
        int32_t split;  // as passed
        int64_t limit;  // in bytes
        int32_t separators;
    } const cases[] = {
        {10240, 1, 1024, 0},     {10240, 1, 1024, 1},    {100000, 3, 3072, 0},
        {100000, 2048, 2048, 1}, {50000, 5000, 5000, 0}, {3000000, 2047, 2047 * 1024, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.size << " bytes split " << c.split);
        ScratchDir dir;
        const Bytes data = qvtest::RandomBytes(c.size, 99);
        uint16_t parts = 0;
        ASSERT_EQ(Encode(dir, "src.bin", data, "out.txt", c.split, c.separators, &parts), QV_OK);
        ASSERT_GE(parts, 2);
        // Exactly parts files out.1 ... out.N, each below the split size, the header in
        // the first only, the cut-here lines first and last.
        std::vector<std::string> expected = {"src.bin"};
        for (int i = 1; i <= parts; ++i) expected.push_back("out." + std::to_string(i));
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(Names(dir.path()), expected);
        for (int i = 1; i <= parts; ++i) {
            const std::string text = S(qvtest::ReadFile(dir.file("out." + std::to_string(i))));
            EXPECT_LT(static_cast<int64_t>(text.size()), c.limit) << i;
            EXPECT_EQ(text.find("begin 644 src.bin\r\n") != std::string::npos, i == 1) << i;
            if (c.separators) {
                EXPECT_EQ(text.starts_with(kBeginSeparator + "\r\n"), i == 1) << i;
                EXPECT_EQ(text.ends_with("\r\n" + kEndSeparator + "\r\n"), i == parts) << i;
            }
        }
        fs::remove(dir.file("src.bin"));
        ASSERT_EQ(Qv4UUDecode(dir.file("out.1").c_str(), nullptr), QV_OK);
        EXPECT_EQ(qvtest::ReadFile(dir.file("src.bin")), data);
    }
}

// The size estimate a split is decided on: the header and data lines and the end lines,
// though not the size line itself.
uint64_t Estimate(uint64_t size, size_t nameLength) {
    return 10 + nameLength + 8 + 3 * ((size + 44) / 45) + (size + 2) / 3 + size + 2;
}

TEST(UuEncode, AtMost900Parts) {
    // The largest source whose estimate is 900 split sizes still encodes; one byte more fails
    // without writing anything.
    uint64_t size = 0;
    while (Estimate(size + 1, 5) / 1024 <= 900) ++size;
    ScratchDir dir;
    const Bytes data = qvtest::RandomBytes(size + 1, 5);
    uint16_t parts = 0;
    ASSERT_EQ(Encode(dir, "x.bin", data, "big", 1, 0, &parts), QV_E_TOO_LONG);
    EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"x.bin"});

    ASSERT_EQ(Encode(dir, "x.bin", Bytes(data.begin(), data.end() - 1), "big", 1, 0, &parts),
              QV_OK);
    EXPECT_GE(parts, 900);
    EXPECT_TRUE(fs::exists(dir.file("big." + std::to_string(parts))));
    EXPECT_FALSE(fs::exists(dir.file("big." + std::to_string(parts + 1))));
}

TEST(UuEncode, TextJustAtTheSplitSizeStillDecodes) {
    // The estimate leaves the size line out, so a text can fit the estimate yet reach the
    // split size. Its tail must not end up in a part that its single file's name does not
    // announce: every file stays below the split size and the text decodes.
    for (int64_t limit : {4096, 8192, 65536}) {
        uint64_t size = 1;
        while (Estimate(size + 1, 5) <= static_cast<uint64_t>(limit)) ++size;
        SCOPED_TRACE(testing::Message() << size << " bytes split " << limit);
        ScratchDir dir;
        const Bytes data = qvtest::RandomBytes(size, 3);
        uint16_t parts = 0;
        ASSERT_EQ(Encode(dir, "e.bin", data, "t", static_cast<int32_t>(limit), 0, &parts), QV_OK);
        for (const auto& name : Names(dir.path())) {
            if (name == "e.bin") continue;
            EXPECT_LT(fs::file_size(dir.path() / name), static_cast<uintmax_t>(limit)) << name;
        }
        fs::remove(dir.file("e.bin"));
        const std::string first = dir.file(parts == 1 ? "t.uue" : "t.1");
        ASSERT_EQ(Qv4UUDecode(first.c_str(), nullptr), QV_OK);
        EXPECT_EQ(qvtest::ReadFile(dir.file("e.bin")), data);
    }
}

// ---- Outputs that already exist -----------------------------------------------------------

TEST(UuEncode, ExistingOutputsAreReplacedNotOverwritten) {
    ScratchDir dir, clean;
    const Bytes data = qvtest::RandomBytes(100, 1);
    uint16_t parts = 0;
    ASSERT_EQ(Encode(clean, "d.bin", data, "", 0, 0, &parts), QV_OK);
    qvtest::WriteFile(dir.file("d.uue"), Bytes(100000, 'Z'));
    ASSERT_EQ(Encode(dir, "d.bin", data, "", 0, 0, &parts), QV_OK);
    EXPECT_EQ(qvtest::ReadFile(dir.file("d.uue")), qvtest::ReadFile(clean.file("d.uue")));

    // Decoding over a longer file leaves exactly the decoded bytes, with a size line and
    // without one (as other encoders write).
    const std::string withSize = S(qvtest::ReadFile(dir.file("d.uue")));
    const std::string withoutSize = withSize.substr(0, withSize.size() - 5);  // drop "100\r\n"
    ASSERT_TRUE(withoutSize.ends_with("end\r\n"));
    for (const std::string& text : {withSize, withoutSize}) {
        ScratchDir target;
        fs::create_directories(target.path() / "out");
        qvtest::WriteFile((target.path() / "out" / "d.bin").string(), Bytes(100000, 'Z'));
        ASSERT_EQ(DecodeText(target, text), QV_OK);
        EXPECT_EQ(qvtest::ReadFile((target.path() / "out" / "d.bin").string()), data);
    }
}

// ---- Decoding -----------------------------------------------------------------------------

// One data line for "hi" and the end lines.
const std::string kHiBody = "\":&D`\r\n`\r\nend\r\n2\r\n";

TEST(UuDecode, NameFromTheTextStaysInTheOutputDirectory) {
    struct {
        std::string recorded;
        std::string written;  // empty: no usable name
    } const cases[] = {
        {"plain.txt", "plain.txt"},
        {"../evil.bin", "evil.bin"},
        {"..\\evil.bin", "evil.bin"},
        {"a/b/c.txt", "c.txt"},
        {"C:\\Windows\\evil.bin", "evil.bin"},
        {"C:evil.bin", "evil.bin"},
        {"\\\\server\\share\\evil.bin", "evil.bin"},
        {"..", ""},
        {".", ""},
        {"...", ""},
        {"sub/", ""},
        {"../", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.recorded);
        ScratchDir dir;
        const ResultCode r = DecodeText(dir, "begin 644 " + c.recorded + "\r\n" + kHiBody);
        if (c.written.empty()) {
            EXPECT_EQ(r, QV_E_NOT_ARCHIVE);
            EXPECT_TRUE(Names(dir.path() / "out").empty());
        } else {
            ASSERT_EQ(r, QV_OK);
            EXPECT_EQ(Names(dir.path() / "out"), std::vector<std::string>{c.written});
            EXPECT_EQ(qvtest::ReadFile((dir.path() / "out" / c.written).string()), B("hi"));
        }
        EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"in.uue", "out"}));
    }
    // An absolute name lands in the output directory too.
    ScratchDir dir;
    const std::string absolute = dir.file("abs.bin");
    ASSERT_EQ(DecodeText(dir, "begin 644 " + absolute + "\r\n" + kHiBody), QV_OK);
    EXPECT_FALSE(fs::exists(absolute));
    EXPECT_TRUE(fs::exists(dir.path() / "out" / "abs.bin"));
}

TEST(UuDecode, ReadsTheTextOfOtherWriters) {
    struct {
        const char* what;
        std::string text;
        std::string decoded;
    } const cases[] = {
        {"LF line ends, no size line", "begin 644 f\n#86)C\n`\nend\n", "abc"},
        {"CR line ends", "begin 644 f\r#86)C\r`\rend\r3\r", "abc"},
        {"padding without a size line is not data", "begin 644 f\n\":&D`\n`\nend\n", "hi"},
        {"space for zero values", "begin 644 f\r\n%86(     \r\n`\r\nend\r\n",
         S(Bytes{'a', 'b', 0, 0, 0})},
        {"a space-count line is an empty data line", "begin 644 f\n#86)C\n \n#86)C\n`\nend\n",
         "abcabc"},
        {"empty lines are skipped", "begin 644 f\n\n#86)C\n\n`\nend\n", "abc"},
        {"characters beyond the groups", "begin 644 f\n#86)CXY\n`\nend\n", "abc"},
        {"text before and after", "From: someone\n\nbegin 644 f\n#86)C\n`\nend\n3\n-- \nbye\n",
         "abc"},
        // The size line cuts; its line end may be the end of the file.
        {"size line cuts", "begin 644 f\r\n#86)C\r\n`\r\nend\r\n2", "ab"},
        {"size line never pads", "begin 644 f\r\n#86)C\r\n`\r\nend\r\n999\r\n", "abc"},
        {"no end line", "begin 644 f\n#86)C\n`\n", "abc"},
        {"a 254-character line", std::string(254, 'x') + "\r\nbegin 644 f\r\n#86)C\r\n`\r\n",
         "abc"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        ASSERT_EQ(DecodeText(dir, c.text), QV_OK);
        EXPECT_EQ(S(qvtest::ReadFile((dir.path() / "out" / "f").string())), c.decoded);
    }
}

TEST(UuDecode, BadInput) {
    const std::string data45 = "M" + std::string(60, '!');
    struct {
        const char* what;
        std::string text;
        ResultCode expected;
    } const cases[] = {
        {"no begin line", "hello\r\nworld\r\n", QV_E_NOT_ARCHIVE},
        {"empty file", "", QV_E_NOT_ARCHIVE},
        {"begin in capitals", "BEGIN 644 f\r\n" + kHiBody, QV_E_NOT_ARCHIVE},
        {"begin without a name", "begin 644\r\n" + kHiBody, QV_E_NOT_ARCHIVE},
        {"long line before begin", std::string(255, 'x') + "\r\nbegin 644 f\r\n" + kHiBody,
         QV_E_TOO_LONG},
        {"long data line", "begin 644 f\r\n" + data45 + std::string(200, '!') + "\r\n`\r\nend\r\n",
         QV_E_TOO_LONG},
        {"lower-case letter", "begin 644 f\r\n#86)c\r\n`\r\nend\r\n", QV_E_DATA},
        {"tilde", "begin 644 f\r\n#86)~\r\n`\r\nend\r\n", QV_E_DATA},
        {"tab", "begin 644 f\r\n#86)\t\r\n`\r\nend\r\n", QV_E_DATA},
        {"NUL ends the line early", "begin 644 f\r\n#86" + std::string(1, '\0') + "C\r\n`\r\n",
         QV_W_SKIPPED},
        {"short data line", "begin 644 f\r\nM" + std::string(56, '!') + "\r\n`\r\nend\r\n",
         QV_W_SKIPPED},
        {"control character as count", "begin 644 f\r\n\001abcd\r\n`\r\nend\r\n", QV_W_SKIPPED},
        {"no end of data", "begin 644 f\r\n#86)C\r\n", QV_W_SKIPPED},
        // Only the backquote ends the data: a space there runs on into "end", which reads
        // as a data line of 69 bytes that is far too short.
        {"space instead of backquote", "begin 644 f\r\n#86)C\r\n \r\nend\r\n3\r\n", QV_W_SKIPPED},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        EXPECT_EQ(DecodeText(dir, c.text), c.expected);
        EXPECT_TRUE(Names(dir.path() / "out").empty()) << "no output is left behind";
    }
}

TEST(UuDecode, SeriesWithAMissingPart) {
    ScratchDir dir;
    const Bytes data = qvtest::RandomBytes(10000, 8);
    uint16_t parts = 0;
    ASSERT_EQ(Encode(dir, "s.bin", data, "p", 1, 0, &parts), QV_OK);
    ASSERT_GE(parts, 3);
    fs::remove(dir.file("s.bin"));
    fs::remove(dir.file("p.2"));
    EXPECT_EQ(Qv4UUDecode(dir.file("p.1").c_str(), nullptr), QV_W_SKIPPED);
    EXPECT_FALSE(fs::exists(dir.file("s.bin")));
    // Only a name ending in ".1" starts a series.
    fs::rename(dir.file("p.1"), dir.file("p.uue"));
    EXPECT_EQ(Qv4UUDecode(dir.file("p.uue").c_str(), nullptr), QV_W_SKIPPED);
    EXPECT_FALSE(fs::exists(dir.file("s.bin")));
}

TEST(UuCalls, Failures) {
    ScratchDir dir;
    uint16_t parts = 0;
    const std::string missing = dir.file("missing.bin");
    EXPECT_EQ(Qv4UUEncode(nullptr, "", 0, 0, &parts), QV_E_CANCELLED);
    EXPECT_EQ(Qv4UUEncode(missing.c_str(), "", 0, 0, nullptr), QV_E_CANCELLED);
    EXPECT_EQ(Qv4UUDecode(nullptr, ""), QV_E_CANCELLED);
    EXPECT_EQ(Qv4UUEncode(missing.c_str(), "", 0, 0, &parts), QV_E_FILE);
    EXPECT_EQ(Qv4UUDecode(missing.c_str(), ""), QV_E_FILE);
    // A directory is no source that can be read.
    EXPECT_EQ(Qv4UUEncode(dir.path().string().c_str(), dir.file("x").c_str(), 0, 0, &parts),
              QV_E_FILE);
    EXPECT_EQ(Names(dir.path()), std::vector<std::string>{});

    // An output that cannot be created.
    qvtest::WriteFile(dir.file("src.bin"), qvtest::RandomBytes(5000, 2));
    const std::string nowhere = dir.file("no/such/dir/out.uue");
    EXPECT_EQ(Qv4UUEncode(dir.file("src.bin").c_str(), nowhere.c_str(), 0, 0, &parts), QV_E_WRITE);
    const std::string text = dir.file("ok.uue");
    ASSERT_EQ(Qv4UUEncode(dir.file("src.bin").c_str(), text.c_str(), 0, 0, &parts), QV_OK);
    EXPECT_EQ(Qv4UUDecode(text.c_str(), dir.file("no/such/dir").c_str()), QV_E_WRITE);

    // Text and file are never the same file: the source is held open while the output is
    // made, so writing over it fails and leaves it whole.
    const Bytes before = qvtest::ReadFile(dir.file("src.bin"));
    EXPECT_EQ(Qv4UUEncode(dir.file("src.bin").c_str(), dir.file("src.bin").c_str(), 0, 0, &parts),
              QV_E_WRITE);
    EXPECT_EQ(qvtest::ReadFile(dir.file("src.bin")), before);
    const std::string self = dir.file("self.uue");
    qvtest::WriteFile(self, "begin 644 self.uue\r\n" + kHiBody);
    EXPECT_EQ(Qv4UUDecode(self.c_str(), nullptr), QV_E_WRITE);
    EXPECT_EQ(S(qvtest::ReadFile(self)), "begin 644 self.uue\r\n" + kHiBody);

    // A part that cannot be created ends the series, and the parts before it go too.
    fs::create_directories(dir.path() / "part.3");
    EXPECT_EQ(Qv4UUEncode(dir.file("src.bin").c_str(), dir.file("part").c_str(), 1, 0, &parts),
              QV_E_WRITE);
    EXPECT_FALSE(fs::exists(dir.file("part.1")));
    EXPECT_FALSE(fs::exists(dir.file("part.2")));
}

// ---- GNU sharutils --------------------------------------------------------------------------

class SharutilsTest : public testing::Test {
protected:
    void SetUp() override {
        if (!qvtest::HaveTool("uuencode") || !qvtest::HaveTool("uudecode"))
            GTEST_SKIP() << "GNU sharutils (uuencode, uudecode) not installed";
    }
};

TEST_F(SharutilsTest, TheyDecodeWhatWeEncode) {
    struct {
        size_t size;
        int32_t separators;
    } const cases[] = {{1, 0}, {45, 1}, {1000, 0}, {100000, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        ScratchDir dir;
        const Bytes data = qvtest::RandomBytes(c.size, 11);
        uint16_t parts = 0;
        ASSERT_EQ(Encode(dir, "ours.bin", data, "", 0, c.separators, &parts), QV_OK);
        const std::string decoded = dir.file("gnu.bin");
        ASSERT_EQ(
            qvtest::RunCommand("uudecode -o " + Quote(decoded) + " " + Quote(dir.file("ours.uue"))),
            0);
        EXPECT_EQ(qvtest::ReadFile(decoded), data);
    }
}

TEST_F(SharutilsTest, TheyDecodeOurSeriesJoinedInOrder) {
    ScratchDir dir;
    const Bytes data = qvtest::RandomBytes(30000, 12);
    uint16_t parts = 0;
    ASSERT_EQ(Encode(dir, "big.bin", data, "set", 2, 1, &parts), QV_OK);
    ASSERT_GE(parts, 10);
    std::string command = "cat";
    for (int i = 1; i <= parts; ++i) command += " " + Quote(dir.file("set." + std::to_string(i)));
    const std::string decoded = dir.file("gnu.bin");
    ASSERT_EQ(qvtest::RunCommand(command + " | uudecode -o " + Quote(decoded)), 0);
    EXPECT_EQ(qvtest::ReadFile(decoded), data);
}

TEST_F(SharutilsTest, WeDecodeWhatTheyEncode) {
    for (size_t size : {0, 1, 2, 45, 46, 1000, 100000}) {
        SCOPED_TRACE(size);
        ScratchDir dir;
        const Bytes data = qvtest::RandomBytes(size, 13);
        qvtest::WriteFile(dir.file("src.bin"), data);
        ASSERT_EQ(qvtest::RunCommand("uuencode " + Quote(dir.file("src.bin")) + " made.bin > " +
                                     Quote(dir.file("gnu.uue"))),
                  0);
        fs::create_directories(dir.path() / "out");
        ASSERT_EQ(Qv4UUDecode(dir.file("gnu.uue").c_str(), (dir.path() / "out").string().c_str()),
                  QV_OK);
        EXPECT_EQ(qvtest::ReadFile((dir.path() / "out" / "made.bin").string()), data);
    }
}

TEST_F(SharutilsTest, BackquoteAndSpaceForZero) {
    // Both write a zero value as a backquote, so the data lines agree character for character.
    ScratchDir dir;
    Bytes data = qvtest::RandomBytes(2000, 14);
    std::fill(data.begin() + 100, data.begin() + 200, 0);
    uint16_t parts = 0;
    ASSERT_EQ(Encode(dir, "z.bin", data, "", 0, 0, &parts), QV_OK);
    std::string gnuText;
    ASSERT_EQ(qvtest::RunCommand("uuencode " + Quote(dir.file("z.bin")) + " z.bin", &gnuText), 0);
    auto gnu = Lines(gnuText, "\n");
    auto ours = Lines(S(qvtest::ReadFile(dir.file("z.uue"))));
    ASSERT_EQ(ours.back(), "2000");
    ours.pop_back();  // the size line is ours alone
    // The begin lines differ only in the mode GNU takes from the file.
    gnu.erase(gnu.begin());
    ours.erase(ours.begin());
    EXPECT_EQ(ours, gnu);
    EXPECT_EQ(gnuText.find(" ", gnuText.find('\n')), std::string::npos) << "GNU wrote a space";

    // Older encoders wrote a space for zero. In data both decoders take it as zero.
    std::string spaced = gnuText;
    for (size_t i = spaced.find('\n') + 1; i < spaced.size(); ++i)
        if (spaced[i] == '`') spaced[i] = ' ';
    // spaced now ends its data with a line holding one space instead of the backquote.
    ASSERT_NE(spaced.find("\n \nend\n"), std::string::npos);
    qvtest::WriteFile(dir.file("spaced.uue"), spaced);
    ASSERT_EQ(qvtest::RunCommand("uudecode -o " + Quote(dir.file("gnu.bin")) + " " +
                                 Quote(dir.file("spaced.uue"))),
              0);
    EXPECT_EQ(qvtest::ReadFile(dir.file("gnu.bin")), data);
    // GNU also ends the data at that space line; we end it only at a backquote, so the line
    // is an empty data line and the text runs on into "end": incomplete input.
    fs::create_directories(dir.path() / "out");
    const std::string out = (dir.path() / "out").string();
    EXPECT_EQ(Qv4UUDecode(dir.file("spaced.uue").c_str(), out.c_str()), QV_W_SKIPPED);
    // With the backquote end line restored, spaces in the data decode as zeros.
    spaced.replace(spaced.find("\n \nend\n"), 7, "\n`\nend\n");
    qvtest::WriteFile(dir.file("spaced.uue"), spaced);
    ASSERT_EQ(Qv4UUDecode(dir.file("spaced.uue").c_str(), out.c_str()), QV_OK);
    EXPECT_EQ(qvtest::ReadFile((dir.path() / "out" / "z.bin").string()), data);
}

}  // namespace
