// qvarc - command-line host for the QvArc32 library.
#include <cstdio>
#include <cstring>

#include "qvarc32.h"

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0) {
        std::puts("usage: qvarc COMMAND [ARGS]");
        return argc < 2 ? 2 : 0;
    }
    std::fprintf(stderr, "qvarc: unknown command '%s'\n", argv[1]);
    return 2;
}
