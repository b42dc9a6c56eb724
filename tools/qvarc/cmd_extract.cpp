// qvarc extract (x) and qvarc test (t): members out of an archive, or checked in place.
//
//   qvarc extract [-C DIR] [-X SPECS] [OPTION...] ARCHIVE [SPEC...]
//   qvarc test [-X SPECS] [OPTION...] ARCHIVE [SPEC...]
//
// Every other argument that begins with "-" is an option of the library's own unzip option
// string, passed on as it is ("-d" restore directories, "-o" overwrite, "-o-" never overwrite,
// "-f" freshen, "-n" newer only, '-s"password"', "-r+" replace read-only files, "-.L" long
// names, ...). SPECs choose members ("*.txt", "sub\*"); without one every member is taken.
// Progress, notices and the overwrite question go through the console status callback.
#include <cstdio>
#include <cstring>
#include <string>

#include "commands.h"

namespace qvarc {
namespace {

const char kExtractUsage[] = "[-C DIR] [-X SPECS] [OPTION...] ARCHIVE [SPEC...]   extract members";
const char kTestUsage[] = "[-X SPECS] [OPTION...] ARCHIVE [SPEC...]   test members";

void PrintUsage(const char* command, bool testing) {
    std::fprintf(
        stderr,
        "usage: qvarc %s %s\n"
        "  -C DIR     extract below DIR (default: the current directory)\n"
        "  -X SPECS   leave out the members SPECS match\n"
        "  options of the library's unzip option string, passed on as given:\n"
        "  -d         restore directories      -o / -o-   always / never overwrite\n"
        "  -f         freshen existing files   -n         only newer members\n"
        "  '-s\"PW\"'   password (any delimiter)  -r+ / -r-  replace / keep read-only files\n"
        "  -$         restore a volume label   -.D        keep drives and absolute paths\n"
        "  -.L        long names               -.V / -.VE newer / not older file version\n"
        "  -.O        skip inaccessible files silently   -j WORD   drop attributes (HSRN)\n",
        command, testing ? kTestUsage : kExtractUsage);
}

// A specification token; names with blanks are quoted.
std::string SpecToken(const char* arg) {
    std::string token(arg);
    if (token.find(' ') != std::string::npos) {
        token.insert(token.begin(), '"');
        token.push_back('"');
    }
    return token;
}

int Run(int argc, char** argv, bool testing) {
    const char* command = argv[0];
    std::string destination, exclusions, options, specs;
    const char* archive = nullptr;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
            PrintUsage(command, testing);
            return 0;
        }
        if (!archive && (std::strcmp(arg, "-C") == 0 || std::strcmp(arg, "-X") == 0)) {
            if (i + 1 >= argc || (testing && arg[1] == 'C')) {
                PrintUsage(command, testing);
                return 2;
            }
            std::string& target = arg[1] == 'C' ? destination : exclusions;
            if (!target.empty()) target += ' ';
            target += arg[1] == 'C' ? std::string(argv[++i]) : SpecToken(argv[++i]);
            continue;
        }
        // Options begin with "-" here ("/" begins absolute paths on this side).
        if (!archive && arg[0] == '-' && arg[1] != '\0') {
            if (!options.empty()) options += ' ';
            options += arg;
            continue;
        }
        if (!archive) {
            archive = arg;
            continue;
        }
        if (!specs.empty()) specs += ' ';
        specs += SpecToken(arg);
    }
    if (!archive) {
        PrintUsage(command, testing);
        return 2;
    }
    if (testing) options += options.empty() ? "-t" : " -t";
    if (specs.empty()) specs.push_back('*');  // every member

    ArchiveHandle handle = QV_NO_HANDLE;
    ResultCode result = Qv4ZipOpen(archive, QV_OPEN_READ, &handle);
    if (result != QV_OK) return ReportResult(archive, result);
    result = Qv4UnZip(&handle, destination.empty() ? nullptr : destination.c_str(), specs.c_str(),
                      exclusions.empty() ? nullptr : exclusions.c_str(), options.c_str());
    Qv4ZipClose(&handle);
    if (result == QV_E_OPTIONS) {
        std::fprintf(stderr, "qvarc: option string \"%s\" is malformed at character %u\n",
                     options.c_str(), Qv4GetParsePlace());
    }
    if (result == QV_OK)
        std::fprintf(stderr, "%s: %s\n", archive, testing ? "all members OK" : "done");
    return ReportResult(archive, result);
}

int RunExtract(int argc, char** argv) {
    return Run(argc, argv, false);
}
int RunTest(int argc, char** argv) {
    return Run(argc, argv, true);
}

const Command kExtract("extract", "x", kExtractUsage, &RunExtract);
const Command kTest("test", "t", kTestUsage, &RunTest);

}  // namespace
}  // namespace qvarc
