// The library as a host sees it: loaded with dlopen, exports found by their plain names.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "qvarc32.h"
#include "test_support.h"

namespace {

using qvtest::Bytes;
using qvtest::ScratchDir;

class Library {
public:
    Library() { handle_ = dlopen(QV_SHARED_LIB, RTLD_NOW | RTLD_LOCAL); }
    ~Library() {
        if (handle_) dlclose(handle_);
    }
    void Unload() {
        if (handle_) dlclose(handle_);
        handle_ = nullptr;
    }
    bool loaded() const { return handle_ != nullptr; }
    template <typename F>
    F* Get(const char* name) const {
        return reinterpret_cast<F*>(dlsym(handle_, name));
    }

private:
    void* handle_ = nullptr;
};

struct Api {
    explicit Api(const Library& lib)
        : open(lib.Get<decltype(Qv4ZipOpen)>("Qv4ZipOpen")),
          close(lib.Get<decltype(Qv4ZipClose)>("Qv4ZipClose")),
          percent(lib.Get<decltype(Qv4ZipPercent)>("Qv4ZipPercent")),
          identify(lib.Get<decltype(Qv4IdentifyFile)>("Qv4IdentifyFile")) {}
    decltype(Qv4ZipOpen)* open;
    decltype(Qv4ZipClose)* close;
    decltype(Qv4ZipPercent)* percent;
    decltype(Qv4IdentifyFile)* identify;
};

void Put16(Bytes& b, uint32_t v) {
    b.push_back(v & 0xFF);
    b.push_back((v >> 8) & 0xFF);
}
void Put32(Bytes& b, uint32_t v) {
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}

// An end record with the given disk number and comment length (comment bytes appended).
Bytes EndRecord(uint16_t disk = 0, const std::string& comment = "") {
    Bytes b;
    Put32(b, 0x06054B50);
    Put16(b, disk);
    b.resize(20, 0);
    Put16(b, static_cast<uint32_t>(comment.size()));
    b.insert(b.end(), comment.begin(), comment.end());
    return b;
}

Bytes Cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes Text(const std::string& s, size_t pad = 0) {
    Bytes b(s.begin(), s.end());
    if (b.size() < pad) b.resize(pad, 0);
    return b;
}

Bytes Sig(uint32_t sig, size_t pad = 64) {
    Bytes b;
    Put32(b, sig);
    b.resize(pad, 0);
    return b;
}

Bytes At(size_t offset, const Bytes& mark, size_t pad) {
    Bytes b(offset, 0x41);
    b.insert(b.end(), mark.begin(), mark.end());
    if (b.size() < pad) b.resize(pad, 0x41);
    return b;
}

TEST(HostApi, EveryFrameExportIsFoundByItsPlainName) {
    Library lib;
    ASSERT_TRUE(lib.loaded()) << dlerror();
    for (const char* name :
         {"Qv4ZipOpen", "Qv4ZipClose", "Qv4ZipPercent", "Qv4SetCPrint", "Qv4GetCPrint",
          "Qv4CPrintHook", "Qv4ExtendedCPrintInfo", "Qv4SetDoEvents", "Qv4GetDoEvents",
          "Qv4Cancel", "Qv4SetParseType", "Qv4GetParseType", "Qv4GetParsePlace", "QvFarAddr",
          "QvLongLow", "QvLongHigh", "LSeg", "VarSeg", "VarPtr", "Qv4IdentifyFile"})
        EXPECT_NE(lib.Get<void>(name), nullptr) << name;
}

struct IdentifyCase {
    const char* name;
    Bytes content;
    int result;
    uint16_t type;
};

TEST(HostApi, IdentifiesEveryKindInItsOrder) {
    Library lib;
    ASSERT_TRUE(lib.loaded());
    Api api(lib);
    Bytes zip = Cat(Sig(0x04034B50, 30), EndRecord());
    Bytes sfx = Cat(Text("MZ", 64), EndRecord());
    Bytes sfxWithComment = Cat(Text("MZ", 64), EndRecord(0, "a comment"));
    Bytes pklite = At(30, Text("PKLITE"), 64);
    pklite[0] = 'M', pklite[1] = 'Z';
    Bytes gnuTar = At(257, Text("ustar  "), 1024);
    const IdentifyCase cases[] = {
        {"empty.sqs", {}, 0, 9},
        {"EMPTY.SqS", {}, 0, 9},
        {"empty.zip", {}, 0, 1},
        {"sqs.dat", Text("KWEP", 64), 0, 9},
        {"pklite.exe", pklite, 0, 13},
        {"sfx.exe", sfx, 0, 13},
        {"sfxcomment.exe", sfxWithComment, -1, 0},
        {"mz.exe", Text("MZ", 64), -1, 0},
        {"split1.dat", Text(std::string("QVVX\x01\x00", 6), 12), 0, 2},
        {"split2.dat", Text(std::string("QVVX\x02\x00", 6), 12), 0, 2},
        {"split3.dat", Text(std::string("QVVX\x03\x00", 6), 12), 0, 10},
        {"split4.dat", Text(std::string("QVVX\x04\x00", 6), 12), -1, 0},
        {"dirvol.dat", Sig(0x02014B50), 0, 4},
        {"spanned.dat", Sig(0x08074B50), 0, 3},
        {"local.dat", zip, 0, 1},
        {"localLater.dat", Cat(Sig(0x04034B50, 30), EndRecord(3)), 0, 1},
        {"end.dat", EndRecord(), 0, 1},
        {"arj.dat", Text("\x60\xEA", 64), 0, 6},
        {"gz.dat", Text("\x1F\x8B\x08", 64), 0, 12},
        {"gzstored.dat", Text("\x1F\x8B\x07", 64), -1, 0},
        {"arc.dat", Text("\x1A\x08HELLO", 64), 0, 8},
        {"arcbad.dat", Text(std::string("\x1A\x08\x00", 3), 64), -1, 0},
        {"lha.dat", At(2, Text("-lh5-"), 64), 0, 5},
        {"zoo.dat", At(20, Text("\xDC\xA7\xC4\xFD"), 64), 0, 7},
        {"posix.dat", At(257, Text(std::string("ustar\0", 6)), 1024), 0, 11},
        {"gnu.dat", gnuTar, -1, 0},
        {"gnu.TaR", gnuTar, 0, 11},
        {"later.dat", Cat(Text("continued member data"), EndRecord(2)), 0, 3},
        {"laterdisk0.dat", Cat(Text("continued member data"), EndRecord(0)), -1, 0},
        {"short.dat", Text("ab"), -1, 0},
        {"stub.dat", Cat(Text("#!stub", 40), zip), -1, 0},
    };
    ScratchDir dir;
    for (const auto& c : cases) {
        const std::string path = dir.file(c.name);
        qvtest::WriteFile(path, c.content);
        uint16_t type = 77;
        EXPECT_EQ(api.identify(path.c_str(), &type), c.result) << c.name;
        EXPECT_EQ(type, c.type) << c.name;
    }
    uint16_t type = 77;
    EXPECT_EQ(api.identify(dir.file("missing.zip").c_str(), &type), 105);
    EXPECT_EQ(type, 0);
}

class OpenClose : public ::testing::Test {
protected:
    Library lib;
    Api api{lib};
    ScratchDir dir;
    std::string Path(const char* name) { return dir.file(name); }
};

TEST_F(OpenClose, RefusesBadNamesAndModes) {
    ArchiveHandle h = 5;
    EXPECT_EQ(api.open(nullptr, 0, &h), 102);
    EXPECT_EQ(h, QV_NO_HANDLE);
    for (const char* bad : {"", "   ", "\t\x01 ", "a?.zip", "*.zip"}) {
        h = 5;
        EXPECT_EQ(api.open(bad, 0, &h), 102) << bad;
        EXPECT_EQ(h, QV_NO_HANDLE);
    }
    EXPECT_EQ(api.open(Path("missing").c_str(), 1, &h), 102);
    EXPECT_EQ(api.open(Path("missing").c_str(), 2, &h), 102);
    qvtest::WriteFile(Path("a.zip"), EndRecord());
    for (uint32_t mode : {4u, 8u | 1u, 9u, 0x109u}) {
        h = 5;
        EXPECT_EQ(api.open(Path("a.zip").c_str(), mode, &h), -23) << mode;
        EXPECT_EQ(h, QV_NO_HANDLE);
    }
    EXPECT_TRUE(std::filesystem::exists(Path("a.zip")));
}

TEST_F(OpenClose, AppendsZipExtensionAndFindsNamesIgnoringCase) {
    qvtest::WriteFile(Path("backup.zip"), EndRecord());
    ArchiveHandle h = QV_NO_HANDLE;
    ASSERT_EQ(api.open(("  " + Path("backup")).c_str(), 1, &h), 0);
    EXPECT_NE(h, QV_NO_HANDLE);
    api.close(&h);
    EXPECT_TRUE(std::filesystem::exists(Path("backup.zip")));
    // A name whose only "." is its first character still gets ".ZIP".
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    ASSERT_EQ(api.open(".hidden", 3, &h), 0);
    EXPECT_TRUE(std::filesystem::exists(Path(".hidden.ZIP")));
    api.close(&h);
    // An extension of its own, in any case, is kept.
    qvtest::WriteFile(Path("old.Arc"), EndRecord());
    ASSERT_EQ(api.open("old.Arc", 1, &h), 0);
    api.close(&h);
    std::filesystem::current_path(cwd);
}

TEST_F(OpenClose, ModeZeroCreatesMissingAndShortFilesAndClosingRemovesThem) {
    ArchiveHandle h = QV_NO_HANDLE;
    ASSERT_EQ(api.open(Path("new.zip").c_str(), 0, &h), 0);
    EXPECT_TRUE(std::filesystem::exists(Path("new.zip")));
    api.close(&h);
    EXPECT_FALSE(std::filesystem::exists(Path("new.zip")));

    qvtest::WriteFile(Path("short.zip"), Bytes(21, 'x'));
    ASSERT_EQ(api.open(Path("short.zip").c_str(), 0, &h), 0);
    EXPECT_EQ(std::filesystem::file_size(Path("short.zip")), 0u);  // replaced
    api.close(&h);
    EXPECT_FALSE(std::filesystem::exists(Path("short.zip")));

    // An existing empty archive is left alone.
    qvtest::WriteFile(Path("empty.zip"), EndRecord());
    ASSERT_EQ(api.open(Path("empty.zip").c_str(), 0, &h), 0);
    api.close(&h);
    EXPECT_TRUE(std::filesystem::exists(Path("empty.zip")));

    // A created archive that received data stays.
    ASSERT_EQ(api.open(Path("data.zip").c_str(), 3, &h), 0);
    api.close(&h);
    qvtest::WriteFile(Path("data.zip"), Cat(Sig(0x04034B50, 30), EndRecord()));
    EXPECT_TRUE(std::filesystem::exists(Path("data.zip")));
}

TEST_F(OpenClose, ReadOnlyFilesOpenReadOnlyAndExclusiveOpensConflict) {
    qvtest::WriteFile(Path("ro.zip"), EndRecord());
    ::chmod(Path("ro.zip").c_str(), 0444);
    ArchiveHandle h = QV_NO_HANDLE, h2 = QV_NO_HANDLE;
    ASSERT_EQ(api.open(Path("ro.zip").c_str(), 0, &h), 0);  // chosen read-only
    ASSERT_EQ(api.open(Path("ro.zip").c_str(), 1, &h2), 0);  // a second reader is fine
    api.close(&h2);
    api.close(&h);
    EXPECT_EQ(api.open(Path("ro.zip").c_str(), 2, &h), 105);
    EXPECT_EQ(h, QV_NO_HANDLE);

    qvtest::WriteFile(Path("rw.zip"), EndRecord());
    ASSERT_EQ(api.open(Path("rw.zip").c_str(), 2, &h), 0);
    EXPECT_EQ(api.open(Path("rw.zip").c_str(), 2, &h2), 105);
    EXPECT_EQ(api.open(Path("rw.zip").c_str(), 1, &h2), 105);
    api.close(&h);
    ASSERT_EQ(api.open(Path("rw.zip").c_str(), 2, &h2), 0);
    api.close(&h2);
}

TEST_F(OpenClose, UnwritableKindsAndUnreadableFilesLeaveNoRecord) {
    qvtest::WriteFile(Path("a.lzh"), At(2, Text("-lh5-"), 64));
    ArchiveHandle h = 5;
    EXPECT_EQ(api.open(Path("a.lzh").c_str(), 2, &h), -26);
    EXPECT_EQ(h, QV_NO_HANDLE);
    qvtest::WriteFile(Path("plain.txt"), Text("just some text that is no archive"));
    EXPECT_EQ(api.open(Path("plain.txt").c_str(), 0, &h), -1);
    EXPECT_EQ(api.open(Path("plain.txt").c_str(), 1, &h), -1);
    EXPECT_TRUE(std::filesystem::exists(Path("plain.txt")));  // never deleted: not created here
    std::filesystem::create_directory(Path("folder.zip"));
    EXPECT_EQ(api.open(Path("folder.zip").c_str(), 0, &h), 105);
    EXPECT_EQ(api.open(Path("folder.zip").c_str(), 1, &h), 102);
    EXPECT_TRUE(std::filesystem::is_directory(Path("folder.zip")));
    // Closing a handle that is not open does nothing.
    ArchiveHandle bogus = 12345;
    api.close(&bogus);
    api.close(nullptr);
}

TEST_F(OpenClose, UnloadingTheLibraryClosesWhatIsOpen) {
    ArchiveHandle h = QV_NO_HANDLE;
    ASSERT_EQ(api.open(Path("left-open.zip").c_str(), 3, &h), 0);
    ASSERT_TRUE(std::filesystem::exists(Path("left-open.zip")));
    lib.Unload();
    EXPECT_FALSE(std::filesystem::exists(Path("left-open.zip")));
}

TEST(HostApi, PercentDone) {
    Library lib;
    ASSERT_TRUE(lib.loaded());
    Api api(lib);
    struct {
        int32_t total, remaining;
        uint32_t expected;
    } cases[] = {{0, 0, 0},         {-5, 1, 0},           {200, 50, 75},        {200, -1, 100},
                 {200, 200, 0},     {200, 201, 0},        {200, 0, 100},        {3, 1, 67},
                 {2147483647, 1073741823, 51}, {2147483647, 21474837, 100}, {100, 99, 1}};
    for (const auto& c : cases)
        EXPECT_EQ(api.percent(c.total, c.remaining) & 0xFFFF, c.expected) << c.total << " " << c.remaining;
}

TEST(HostApi, SwitchesAndConversions) {
    Library lib;
    ASSERT_TRUE(lib.loaded());
    auto setCPrint = lib.Get<decltype(Qv4SetCPrint)>("Qv4SetCPrint");
    auto getCPrint = lib.Get<decltype(Qv4GetCPrint)>("Qv4GetCPrint");
    auto setDoEvents = lib.Get<decltype(Qv4SetDoEvents)>("Qv4SetDoEvents");
    auto getDoEvents = lib.Get<decltype(Qv4GetDoEvents)>("Qv4GetDoEvents");
    auto setParseType = lib.Get<decltype(Qv4SetParseType)>("Qv4SetParseType");
    auto getParseType = lib.Get<decltype(Qv4GetParseType)>("Qv4GetParseType");
    auto extended = lib.Get<decltype(Qv4ExtendedCPrintInfo)>("Qv4ExtendedCPrintInfo");
    EXPECT_EQ(getCPrint(), 0);
    setCPrint(0x10000);  // only the low 16 bits count
    EXPECT_EQ(getCPrint(), 0);
    setCPrint(-3);
    EXPECT_EQ(getCPrint(), 1);
    setCPrint(0);
    EXPECT_EQ(getCPrint(), 0);
    setDoEvents(1);
    EXPECT_EQ(getDoEvents(), 1);
    setDoEvents(0);
    EXPECT_EQ(getDoEvents(), 0);
    setParseType(5);
    EXPECT_EQ(getParseType(), -1);
    setParseType(0);
    EXPECT_EQ(getParseType(), 0);
    uint8_t buf[10];
    std::memset(buf, 0xEE, sizeof buf);
    EXPECT_EQ(extended(10, buf), 4);
    EXPECT_EQ(buf[4], 0xEE);
    EXPECT_EQ(extended(2, buf), 2);
    EXPECT_EQ(extended(0, buf), 0);
    EXPECT_EQ(extended(-1, buf), 0);
    EXPECT_EQ(lib.Get<decltype(QvFarAddr)>("QvFarAddr")(1, 2), 65538u);
    EXPECT_EQ(lib.Get<decltype(QvLongHigh)>("QvLongHigh")(0x12345678), 0x1234u);
    EXPECT_EQ(lib.Get<decltype(QvLongLow)>("QvLongLow")(0x12345678) & 0xFFFF, 0x5678u);
    EXPECT_EQ(lib.Get<decltype(VarSeg)>("VarSeg")(0xABCD0001), 0xABCDu);
    EXPECT_EQ(lib.Get<decltype(VarPtr)>("VarPtr")(0xABCD0001) & 0xFFFF, 1u);
    EXPECT_EQ(lib.Get<decltype(LSeg)>("LSeg")(0xABCD0001) & 0xFFFF, 1u);
}

}  // namespace
