// The utility subcommands: UUencode and UUdecode of files, and line-ending conversion.
//
//   qvarc uuencode FILE [OUTPUT] [-s SPLIT] [-c]   FILE as UU text (OUTPUT, or FILE's name with
//                                                  ".uue"); -s splits into parts OUTPUT.1, .2,
//                                                  ... below SPLIT (kilobytes below 2048, else
//                                                  bytes); -c adds cut-here lines
//   qvarc uudecode FILE [DIR]                      the file a UU text (or series FILE.1) holds
//   qvarc crlf SOURCE DEST [-z]                    LF to CR LF; -z ends DEST with Ctrl-Z
//   qvarc lf SOURCE DEST                           CR LF (and lone CR) to LF, up to a Ctrl-Z
#include "cmd_utilities.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"

namespace qvarc {
namespace {

// Splits arguments after the command name into plain words and single-letter switches; a
// switch listed in withValue takes the next argument as its value. False on an unknown switch
// or a missing value.
struct Arguments {
    std::vector<const char*> words;
    std::string flags;                // switches seen
    std::vector<const char*> values;  // value of each switch in flags (or null)
};

bool Parse(int argc, char** argv, const char* allowed, const char* withValue, Arguments* out) {
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (a[0] != '-' || a[1] == '\0') {
            out->words.push_back(a);
            continue;
        }
        if (a[2] != '\0' || !std::strchr(allowed, a[1])) return false;
        const char* value = nullptr;
        if (std::strchr(withValue, a[1])) {
            if (++i >= argc) return false;
            value = argv[i];
        }
        out->flags += a[1];
        out->values.push_back(value);
    }
    return true;
}

const char* Value(const Arguments& a, char flag) {
    const size_t at = a.flags.find(flag);
    return at == std::string::npos ? nullptr : a.values[at];
}

int Usage(const char* text) {
    std::fprintf(stderr, "usage: qvarc %s\n", text);
    return 2;
}

constexpr const char* kUuencodeUsage =
    "uuencode FILE [OUTPUT] [-s SPLIT] [-c]\n"
    "  SPLIT: part size, in kilobytes below 2048, in bytes from 2048; -c: cut-here lines";
constexpr const char* kUudecodeUsage = "uudecode FILE [DIR]   (FILE.1 decodes a series of parts)";
constexpr const char* kCrlfUsage = "crlf SOURCE DEST [-z]   (-z: end DEST with Ctrl-Z)";
constexpr const char* kLfUsage = "lf SOURCE DEST";

int RunUuencode(int argc, char** argv) {
    Arguments a;
    if (!Parse(argc, argv, "sc", "s", &a) || a.words.empty() || a.words.size() > 2)
        return Usage(kUuencodeUsage);
    long split = 0;
    if (const char* s = Value(a, 's')) {
        char* end = nullptr;
        split = std::strtol(s, &end, 10);
        if (*s == '\0' || *end != '\0' || split < 1 || split > 0x7FFFFFFF)
            return Usage(kUuencodeUsage);
    }
    uint16_t parts = 0;
    const ResultCode r =
        Qv4UUEncode(a.words[0], a.words.size() > 1 ? a.words[1] : "", static_cast<int32_t>(split),
                    a.flags.find('c') != std::string::npos ? 1 : 0, &parts);
    if (r != QV_OK) return ReportResult(a.words[0], r);
    std::printf("%s: %u part%s\n", a.words[0], parts, parts == 1 ? "" : "s");
    return 0;
}

int RunUudecode(int argc, char** argv) {
    Arguments a;
    if (!Parse(argc, argv, "", "", &a) || a.words.empty() || a.words.size() > 2)
        return Usage(kUudecodeUsage);
    return ReportResult(a.words[0], Qv4UUDecode(a.words[0], a.words.size() > 1 ? a.words[1] : ""));
}

int RunCrlf(int argc, char** argv) {
    Arguments a;
    if (!Parse(argc, argv, "z", "", &a) || a.words.size() != 2) return Usage(kCrlfUsage);
    const int endMark = a.flags.find('z') != std::string::npos ? 1 : 0;
    return ReportResult(a.words[0], Qv4LfToCrLf(a.words[0], a.words[1], endMark));
}

int RunLf(int argc, char** argv) {
    Arguments a;
    if (!Parse(argc, argv, "", "", &a) || a.words.size() != 2) return Usage(kLfUsage);
    return ReportResult(a.words[0], Qv4CrLfToLf(a.words[0], a.words[1]));
}

struct Utility {
    const char* name;
    CommandFn run;
};
constexpr Utility kUtilities[] = {
    {"uuencode", &RunUuencode}, {"uudecode", &RunUudecode}, {"crlf", &RunCrlf}, {"lf", &RunLf}};

const Command kUuencode("uuencode", nullptr, "FILE [OUTPUT] [-s SPLIT] [-c]  UUencode a file",
                        &RunUuencode);
const Command kUudecode("uudecode", nullptr, "FILE [DIR]       UUdecode a file or a series",
                        &RunUudecode);
const Command kCrlf("crlf", nullptr, "SOURCE DEST [-z] LF line ends to CR LF", &RunCrlf);
const Command kLf("lf", nullptr, "SOURCE DEST      CR LF line ends to LF", &RunLf);

}  // namespace
}  // namespace qvarc

int RunUtilityCommand(int argc, char** argv) {
    if (argc < 2) return -1;
    for (const auto& u : qvarc::kUtilities)
        if (std::strcmp(argv[1], u.name) == 0) return u.run(argc - 1, argv + 1);
    return -1;
}
