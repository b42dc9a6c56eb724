// qvarc - command-line host for the QvArc32 library, built on its public interface only.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"

namespace qvarc {
namespace {

struct Entry {
    const char* name;
    const char* alias;
    const char* usage;
    CommandFn run;
};

std::vector<Entry>& Registry() {
    static std::vector<Entry> commands;
    return commands;
}

void PrintHelp() {
    std::puts("qvarc - ZIP archives with the QvArc32 library\n\nusage: qvarc COMMAND [ARGS]\n");
    std::puts("commands:");
    for (const auto& c : Registry())
        std::printf("  %-10s %s%s%s\n", c.name, c.usage, c.alias ? "   (alias " : "",
                    c.alias ? (std::string(c.alias) + ")").c_str() : "");
    std::puts("  --help     this text");
}

}  // namespace

Command::Command(const char* name, const char* alias, const char* usage, CommandFn run) {
    Registry().push_back({name, alias, usage, run});
}

int RunCommand(int argc, char** argv) {
    for (const auto& c : Registry())
        if (std::strcmp(argv[0], c.name) == 0 || (c.alias && std::strcmp(argv[0], c.alias) == 0))
            return c.run(argc, argv);
    std::fprintf(stderr, "qvarc: unknown command '%s' (try qvarc --help)\n", argv[0]);
    return 2;
}

}  // namespace qvarc

int main(int argc, char** argv) {
    using namespace qvarc;
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        PrintHelp();
        return argc < 2 ? 2 : 0;
    }
    InstallConsoleStatus();
    return RunCommand(argc - 1, argv + 1);
}
