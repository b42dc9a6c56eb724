// Line-ending conversion through Qv4LfToCrLf and Qv4CrLfToLf.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <filesystem>
#include <string>

#include "qvarc32.h"
#include "test_support.h"

namespace {

using qvtest::Bytes;
using qvtest::ScratchDir;

Bytes B(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

// Converts `input` with the chosen call; returns the result and the destination's bytes.
ResultCode Convert(bool toCrLf, const Bytes& input, Bytes* output, int endMark = 0) {
    ScratchDir dir;
    const std::string src = dir.file("in.txt"), dst = dir.file("out.txt");
    qvtest::WriteFile(src, input);
    const ResultCode r = toCrLf ? Qv4LfToCrLf(src.c_str(), dst.c_str(), endMark)
                                : Qv4CrLfToLf(src.c_str(), dst.c_str());
    if (std::filesystem::exists(dst)) *output = qvtest::ReadFile(dst);
    EXPECT_EQ(qvtest::ReadFile(src), input) << "the source is never changed";
    return r;
}

TEST(LineEndings, SmallCases) {
    struct {
        bool toCrLf;
        int endMark;
        std::string in, out;
    } const cases[] = {
        {true, 0, "", ""},
        {true, 1, "", "\x1a"},
        {true, 0, "a\nb", "a\r\nb"},
        {true, 0, "a\r\nb", "a\r\r\nb"},  // no look-back: CR LF gains a CR as well
        {true, 0, "\n\n", "\r\n\r\n"},
        {true, 0, "a\032b\r", "a\032b\r"},  // CR and Ctrl-Z (octal 032) are copied
        {true, 1, "a\n", "a\r\n\x1a"},
        {true, 0x10000, "a\n", "a\r\n"},  // the flag is the low half of its slot
        {false, 0, "", ""},
        {false, 0, "a\r\nb", "a\nb"},
        {false, 0, "\r\r\n", "\n\n"},
        {false, 0, "ab\r", "ab\n"},  // a final CR still gives an LF
        {false, 0, "a\nb\n", "a\nb\n"},
        {false, 0, "\n\r", "\n\n"},
        {false, 0, "ab\032cd\r\n", "ab"},  // Ctrl-Z ends the text
        {false, 0, "\x1a", ""},
    };
    for (const auto& c : cases) {
        Bytes out;
        ASSERT_EQ(Convert(c.toCrLf, B(c.in), &out, c.endMark), QV_OK);
        EXPECT_EQ(out, B(c.out)) << (c.toCrLf ? "LfToCrLf " : "CrLfToLf ")
                                 << testing::PrintToString(c.in);
    }
    // One byte: the buffers are one byte long, so the CR fills the output and the LF starts
    // the next one.
    Bytes out;
    ASSERT_EQ(Convert(true, B("\n"), &out), QV_OK);
    EXPECT_EQ(out, B("\r\n"));
}

constexpr size_t kPiece = 131072;

TEST(LineEndings, PairSplitBetweenPieces) {
    // The CR is the last byte of the first piece and the LF the first of the second.
    Bytes in(kPiece - 1, 'x');
    in.push_back('\r');
    in.push_back('\n');
    in.insert(in.end(), 1000, 'y');
    Bytes expected(kPiece - 1, 'x');
    expected.push_back('\n');
    expected.insert(expected.end(), 1000, 'y');
    Bytes out;
    ASSERT_EQ(Convert(false, in, &out), QV_OK);
    EXPECT_EQ(out, expected);
}

TEST(LineEndings, LargeFilesMatchSmallOnes) {
    // Text with LF endings over several pieces; the output is twice the source at its fullest.
    Bytes text = qvtest::TextBytes(3 * kPiece + 12345, 7);
    for (auto& b : text)
        if (b == '\r') b = ' ';
    Bytes crlf;
    ASSERT_EQ(Convert(true, text, &crlf, 1), QV_OK);
    size_t lines = 0;
    for (uint8_t b : text) lines += b == '\n';
    ASSERT_GT(lines, 1000u);
    ASSERT_EQ(crlf.size(), text.size() + lines + 1);
    EXPECT_EQ(crlf.back(), 0x1A);
    Bytes back;
    ASSERT_EQ(Convert(false, crlf, &back), QV_OK);
    EXPECT_EQ(back, text);

    // Every byte an LF: each piece's output is twice the buffer.
    Bytes allLf(kPiece, '\n'), out;
    ASSERT_EQ(Convert(true, allLf, &out), QV_OK);
    Bytes expected;
    for (size_t i = 0; i < kPiece; ++i) expected.insert(expected.end(), {'\r', '\n'});
    EXPECT_EQ(out, expected);
}

TEST(LineEndings, CtrlZFarIntoALargeSource) {
    Bytes in(300000, 'a');
    in[200000] = 0x1A;
    Bytes out;
    ASSERT_EQ(Convert(false, in, &out), QV_OK);
    EXPECT_EQ(out, Bytes(200000, 'a'));
}

TEST(LineEndings, Failures) {
    ScratchDir dir;
    const std::string src = dir.file("src.txt");
    qvtest::WriteFile(src, std::string("one\ntwo\n"));

    // The same file as source and destination: the destination cannot be opened while the
    // source is held, and the file is left as it was.
    EXPECT_EQ(Qv4LfToCrLf(src.c_str(), src.c_str(), 0), QV_E_WRITE);
    EXPECT_EQ(Qv4CrLfToLf(src.c_str(), src.c_str()), QV_E_WRITE);
    EXPECT_EQ(qvtest::ReadFile(src), B("one\ntwo\n"));

    const std::string missing = dir.file("missing.txt"), dst = dir.file("dst.txt");
    EXPECT_EQ(Qv4LfToCrLf(missing.c_str(), dst.c_str(), 1), QV_E_FILE);
    EXPECT_EQ(Qv4CrLfToLf(missing.c_str(), dst.c_str()), QV_E_FILE);
    EXPECT_FALSE(std::filesystem::exists(dst));
    // A directory cannot be read as a source.
    EXPECT_EQ(Qv4CrLfToLf(dir.path().string().c_str(), dst.c_str()), QV_E_FILE);
    EXPECT_FALSE(std::filesystem::exists(dst));

    const std::string nowhere = dir.file("no/such/dir/out.txt");
    EXPECT_EQ(Qv4LfToCrLf(src.c_str(), nowhere.c_str(), 0), QV_E_WRITE);
    EXPECT_EQ(Qv4CrLfToLf(nullptr, dst.c_str()), QV_E_FILE);
}

#if !defined(_WIN32)
// Limits the size of every file this process writes, so writes past it fail.
class ScopedFileSizeLimit {
public:
    explicit ScopedFileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &old_);
        oldHandler_ = signal(SIGXFSZ, SIG_IGN);
        struct rlimit limited = old_;
        limited.rlim_cur = bytes;
        ok_ = setrlimit(RLIMIT_FSIZE, &limited) == 0;
    }
    ~ScopedFileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &old_);
        signal(SIGXFSZ, oldHandler_);
    }
    bool ok() const { return ok_; }

private:
    struct rlimit old_ {};
    void (*oldHandler_)(int) = nullptr;
    bool ok_ = false;
};

TEST(LineEndings, FailedWriteDeletesTheDestination) {
    ScratchDir dir;
    const std::string lfs = dir.file("lfs.txt"), xs = dir.file("xs.txt"), dst = dir.file("out.txt");
    qvtest::WriteFile(lfs, Bytes(200000, '\n'));
    qvtest::WriteFile(xs, Bytes(400000, 'x'));
    qvtest::WriteFile(dst, std::string("an older file"));
    ResultCode toCrLf, toLf;
    bool leftAfterCrLf;
    {
        ScopedFileSizeLimit limit(300000);
        ASSERT_TRUE(limit.ok());
        toCrLf = Qv4LfToCrLf(lfs.c_str(), dst.c_str(), 0);
        leftAfterCrLf = std::filesystem::exists(dst);
        toLf = Qv4CrLfToLf(xs.c_str(), dst.c_str());
    }
    EXPECT_EQ(toCrLf, QV_E_WRITE);
    EXPECT_FALSE(leftAfterCrLf);
    EXPECT_EQ(toLf, QV_E_WRITE);
    EXPECT_FALSE(std::filesystem::exists(dst));
}
#endif

}  // namespace
