// qvarc identify FILE... : the archive type of each file.
#include <cstdio>

#include "commands.h"

namespace qvarc {
namespace {

const char* TypeName(uint16_t type) {
    static const char* const names[] = {"unknown",          "ZIP",
                                        "split set (v1/2)", "spanned ZIP volume",
                                        "directory volume", "LHA",
                                        "ARJ",              "ZOO",
                                        "ARC",              "SQS",
                                        "split set (v3)",   "TAR",
                                        "GZIP",             "executable (PKLITE or SFX ZIP)"};
    return type < sizeof names / sizeof names[0] ? names[type] : "?";
}

int RunIdentify(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: qvarc identify FILE...\n");
        return 2;
    }
    int status = 0;
    for (int i = 1; i < argc; ++i) {
        uint16_t type = 0;
        const ResultCode r = Qv4IdentifyFile(argv[i], &type);
        if (r == QV_OK)
            std::printf("%2u  %-32s %s\n", type, TypeName(type), argv[i]);
        else {
            std::printf("--  %-32s %s\n", ResultText(r), argv[i]);
            status = 1;
        }
    }
    return status;
}

const Command kIdentify("identify", "id", "FILE...          which kind of archive each file is",
                        &RunIdentify);

}  // namespace
}  // namespace qvarc
