// Wildcard patterns, file specifications and the include/exclude decision.
#include "name_matching.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "open_names.h"
#include "test_support.h"

namespace {

using namespace qv;

struct MatchCase {
    const char* text;
    const char* pattern;
    bool expected;
};

TEST(WildMatch, Table) {
    const MatchCase cases[] = {
        {"ABC", "ABC", true},
        {"ABC", "ABD", false},
        {"abc", "ABC", false},  // letter case matters here; callers upper-case
        {"ABC", "A?C", true},
        {"AC", "A?C", false},
        {"ABCD", "A?C", false},
        {"", "", true},
        {"", "*", true},
        {"", "?", false},
        {"A", "A*", true},
        {"A", "A**", false},  // a text that ends first needs exactly one "*" left
        {"AB", "A**", true},
        {"XAB", "*B", true},
        {"BAB", "*B", true},
        {"BA", "*B", false},
        {"ABAB", "*AB", true},  // the first "A" fails, the star tries the next
        {"XYA", "*?A", true},
        {"XABA", "*?A", false},  // after "?" only the first place of the anchor is tried
        {"XYZ", "?*Z", true},
        {"X", "?*", true},
        {"", "?*", false},
        {"DIR\\FILE", "DIR/FILE", true},
        {"DIR/FILE", "DIR\\*", true},
        {"A/B/C", "*\\C", true},
        {"A\\B", "A?B", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(WildMatch(c.text, c.pattern), c.expected) << c.text << " ~ " << c.pattern;
}

TEST(WildMatch, ManyStarsEndQuickly) {
    // Each star could split the text anywhere: without remembering the positions already
    // tried this would take longer than the universe has.
    const std::string text(200, 'A');
    std::string pattern;
    for (int i = 0; i < 30; ++i) pattern += "*A";
    EXPECT_FALSE(WildMatch(text, pattern + "*B"));
    EXPECT_TRUE(WildMatch(text + "B", pattern + "*B"));
}

TEST(NameMatches, Table) {
    const MatchCase cases[] = {
        {"readme", "*.*", true},
        {"readme.txt", "*.*", true},
        {"readme", "*.", true},
        {"readme.txt", "*.", false},
        {"read.me.txt", "*.TXT", true},
        {"x.txt", "A*.", false},
        {"abc", "a*.", true},
        {"abc", "a?c", true},
        {"ac", "a?c", false},
        {"abc", "*c", true},
        {"cbc", "*c", true},
        {"cab", "*c", false},
        {"ReadMe.TXT", "readme.txt", true},
        {"caf\x82.txt", "CAF\x90.TXT", true},  // CP437 e-acute against E-acute
        {"file", "file.*", false},             // only "*.*" stands for names without a dot
        {"dir\\a.txt", "dir/*.TXT", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(NameMatches(c.text, c.pattern), c.expected) << c.text << " ~ " << c.pattern;
}

TEST(MatchSpec, Table) {
    struct {
        const char* fileDir;
        const char* fileName;
        const char* specDir;
        const char* specPattern;
        bool expected;
    } cases[] = {
        {"docs/", "a.txt", "docs\\", "a.txt", true},
        {"DOCS\\", "A.TXT", "docs\\", "a.txt", true},
        {"", "a.txt", "", "a.txt", true},
        {"other/", "a.txt", "docs\\", "a.txt", false},
        {"docs/sub/", "a.txt", "docs\\", "a.txt", false},  // an exact name stays in its directory
        {"other/", "a.txt", "docs\\", "*.txt", true},      // a wildcard reaches every directory
        {"docs/sub/", "a.txt", "docs\\", "a?txt", true},
        {"docs/", "a.doc", "docs/", "*.txt", false},
    };
    for (const auto& c : cases) {
        for (bool recursive : {false, true}) {
            EXPECT_EQ(MatchSpec(c.fileDir, c.fileName, c.specDir, c.specPattern, recursive),
                      c.expected)
                << c.fileDir << c.fileName << " ~ " << c.specDir << c.specPattern;
        }
    }
}

TEST(SpecificationTokens, BlanksAndQuotes) {
    EXPECT_EQ(SpecificationTokens("a  \"b c\"\td \"\" \x01"
                                  "e\"f\" \"open x"),
              (std::vector<std::string>{"a", "b c", "d", "e\"f\"", "open x"}));
    EXPECT_TRUE(SpecificationTokens("   ").empty());
    // Bytes above 127 are name characters (CP437 letters), not blanks.
    EXPECT_EQ(SpecificationTokens("caf\x82 x"), (std::vector<std::string>{"caf\x82", "x"}));

    std::string dir, pattern;
    SplitSpecToken("C:\\dir\\*.txt", &dir, &pattern);
    EXPECT_EQ(dir, "C:\\dir\\");
    EXPECT_EQ(pattern, "*.txt");
    SplitSpecToken("dir/", &dir, &pattern);
    EXPECT_EQ(dir, "dir/");
    EXPECT_EQ(pattern, "*");
}

TEST(IncludeFile, SpecificationsAndExclusions) {
    struct {
        const char* dir;
        const char* name;
        const char* spec;
        const char* exclude;
        bool expected;
    } cases[] = {
        {"docs\\", "a.txt", "*.txt", "", true},
        {"docs\\", "a.txt", "*.doc other\\a.txt", "", false},
        {"docs\\", "a.txt", "*.doc docs/a.txt", "", true},
        {"docs\\", "a.txt", "docs\\", "", true},       // a bare directory means all its files
        {"docs\\", "a.txt", "*.txt", "a.txt", false},  // no directory: any directory
        {"docs\\", "a.txt", "*.txt", "other\\a.txt", true},
        {"docs\\", "a.txt", "*.txt", "docs\\*.TXT", false},
        {"my docs\\", "b c.txt", "\"my docs\\b c.txt\"", "", true},
        {"my docs\\", "b c.txt", "my docs\\b c.txt", "", false},  // unquoted: two tokens
        {"docs\\", "a.txt", "", "", false},
    };
    for (const auto& c : cases) {
        const std::string full = std::string(c.dir) + c.name;
        EXPECT_EQ(IncludeFile(full, c.dir, c.name, c.spec, c.exclude, false, false), c.expected)
            << full << " spec " << c.spec << " exclude " << c.exclude;
    }
}

TEST(IncludeFile, FilesTheLibraryHoldsOpenAreLeftOut) {
    qvtest::ScratchDir dir;
    const std::string archive = dir.file("backup.zip");
    ASSERT_EQ(AddOpenName(archive).code, QV_OK);
    const std::string folder = dir.path().string() + "/";
    EXPECT_FALSE(IncludeFile(archive, folder, "backup.zip", "*.*", "", false, true));
    EXPECT_TRUE(IncludeFile(archive, folder, "backup.zip", "*.*", "", false, false));
    // Compared as names: another spelling of the same path is the same file.
    EXPECT_FALSE(
        IncludeFile(folder + "./BACKUP.ZIP", folder, "BACKUP.ZIP", "*.*", "", false, true));
    RemoveOpenName(archive);
    EXPECT_TRUE(IncludeFile(archive, folder, "backup.zip", "*.*", "", false, true));
}

}  // namespace
