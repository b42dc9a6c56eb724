// name_matching.cpp - wildcard patterns and file specifications.
#include "name_matching.h"

#include <array>
#include <cstdint>
#include <unordered_set>

#include "file_primitives.h"
#include "open_names.h"
#include "os.h"

namespace qv {
namespace {

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

// Upper case of every OEM byte, as the ANSI upper-casing gives it. A letter whose capital the
// OEM page lacks keeps its own byte.
const std::array<char, 256>& OemUpperTable() {
    static const std::array<char, 256> table = [] {
        std::array<char, 256> t{};
        for (int b = 0; b < 256; ++b) {
            const std::string oem(1, static_cast<char>(b));
            const std::string upper = os::CharUpper(os::OemToAnsi(oem));
            const std::string back = os::AnsiToOem(upper);
            t[b] = back.size() == 1 && os::OemToAnsi(back) == upper ? back[0] : oem[0];
        }
        t[0] = '\0';
        return t;
    }();
    return table;
}

std::string OemUpper(std::string_view s) {
    const auto& table = OemUpperTable();
    std::string out(s);
    for (char& c : out) c = table[static_cast<uint8_t>(c)];
    return out;
}

// WildMatch over positions of text and pattern. Every call of Match(t, p) depends on t and p
// alone, so positions already known to fail are remembered: patterns with many stars would
// otherwise try an exponential number of splits.
class WildMatcher {
public:
    WildMatcher(std::string_view text, std::string_view pattern) : text_(text), pattern_(pattern) {}

    bool Match(size_t t, size_t p) {
        for (;;) {
            if (p == pattern_.size()) return t == text_.size();
            if (t == text_.size()) return pattern_.substr(p) == "*";
            const char c = pattern_[p];
            if (c == '*') return Star(t, p);
            if (c != '?' && !Same(c, text_[t])) return false;
            ++t;
            ++p;
        }
    }

private:
    // A pattern character against a text character; a separator matches either separator.
    static bool Same(char patternChar, char textChar) {
        return IsSeparator(patternChar) ? IsSeparator(textChar) : patternChar == textChar;
    }

    bool Star(size_t t, size_t p) {
        while (p < pattern_.size() && (pattern_[p] == '*' || pattern_[p] == '?')) {
            if (pattern_[p] == '?') {
                if (t == text_.size()) return false;
                ++t;
            }
            ++p;
        }
        if (p == pattern_.size()) return true;
        const char anchor = pattern_[p];
        const bool afterStar = pattern_[p - 1] == '*';
        for (; t < text_.size(); ++t) {
            if (!Same(anchor, text_[t])) continue;
            if (Rest(t + 1, p + 1)) return true;
            if (!afterStar) return false;
        }
        return false;
    }

    bool Rest(size_t t, size_t p) {
        const uint64_t key = (static_cast<uint64_t>(t) << 32) | p;
        if (failed_.count(key)) return false;
        if (Match(t, p)) return true;
        failed_.insert(key);
        return false;
    }

    std::string_view text_;
    std::string_view pattern_;
    std::unordered_set<uint64_t> failed_;
};

bool HasWildcard(std::string_view pattern) {
    return pattern.find_first_of("*?") != std::string_view::npos;
}

std::string Slashed(std::string_view directory) {
    std::string out(directory);
    for (char& c : out)
        if (c == '\\') c = '/';
    return out;
}

}  // namespace

bool WildMatch(std::string_view text, std::string_view pattern) {
    return WildMatcher(text, pattern).Match(0, 0);
}

bool NameMatches(std::string_view name, std::string_view pattern) {
    const std::string upperName = OemUpper(name);
    std::string upperPattern = OemUpper(pattern);
    if (upperPattern.ends_with("*.")) {
        if (HasExtension(upperName)) return false;
        upperPattern.pop_back();
    } else if (upperPattern.ends_with("*.*")) {
        upperPattern.resize(upperPattern.size() - 2);
    }
    return WildMatch(upperName, upperPattern);
}

bool MatchSpec(std::string_view fileDirectory, std::string_view fileName,
               std::string_view specDirectory, std::string_view specPattern, bool recursive) {
    (void)recursive;  // a wildcard pattern already reaches every directory
    if (!NameMatches(fileName, specPattern)) return false;
    if (CompareNames(Slashed(fileDirectory), Slashed(specDirectory)) == 0) return true;
    return HasWildcard(specPattern);
}

bool IncludeFile(std::string_view fullPath, std::string_view directory, std::string_view name,
                 std::string_view fileSpec, std::string_view excludeSpec, bool recursive,
                 bool checkOpenNames) {
    std::string specDirectory, specPattern;
    bool included = false;
    for (const std::string& token : SpecificationTokens(fileSpec)) {
        SplitSpecToken(token, &specDirectory, &specPattern);
        if (MatchSpec(directory, name, specDirectory, specPattern, recursive)) {
            included = true;
            break;
        }
    }
    if (!included) return false;
    for (const std::string& token : SpecificationTokens(excludeSpec)) {
        SplitSpecToken(token, &specDirectory, &specPattern);
        const bool excluded = specDirectory.empty() ? NameMatches(name, specPattern)
                                                    : MatchSpec(directory, name, specDirectory,
                                                                specPattern, recursive);
        if (excluded) return false;
    }
    return !(checkOpenNames && IsOpenName(fullPath));
}

std::vector<std::string> SpecificationTokens(std::string_view spec) {
    auto isBlank = [](char c) { return c != '\0' && static_cast<uint8_t>(c) <= 32; };
    std::vector<std::string> tokens;
    size_t pos = 0;
    while (pos < spec.size()) {
        while (pos < spec.size() && isBlank(spec[pos])) ++pos;
        if (pos >= spec.size()) break;
        size_t end;
        std::string_view token;
        if (spec[pos] == '"') {
            end = spec.find('"', pos + 1);
            if (end == std::string_view::npos) end = spec.size();
            token = spec.substr(pos + 1, end - pos - 1);
            pos = end < spec.size() ? end + 1 : end;
        } else {
            end = pos;
            while (end < spec.size() && !isBlank(spec[end])) ++end;
            token = spec.substr(pos, end - pos);
            pos = end;
        }
        if (!token.empty()) tokens.emplace_back(token);
    }
    return tokens;
}

void SplitSpecToken(std::string_view token, std::string* directory, std::string* pattern) {
    std::string drive, dir;
    SplitPathName(token, &drive, &dir, pattern);
    *directory = drive + dir;
    if (pattern->empty()) pattern->push_back('*');
}

}  // namespace qv
