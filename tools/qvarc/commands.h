// commands.h - the qvarc subcommands and the console side of the status callback.
#pragma once

#include <cstdint>

#include "qvarc32.h"

namespace qvarc {

using CommandFn = int (*)(int argc, char** argv);

// Each subcommand file registers itself with a static Command object.
struct Command {
    Command(const char* name, const char* alias, const char* usage, CommandFn run);
};

// Runs a registered command by its name or alias (argv[0]); 2 when there is none.
int RunCommand(int argc, char** argv);

// Installs the console status callback: progress on stderr, questions asked on the console.
void InstallConsoleStatus();
// Prints a result code with its meaning to stderr; returns the process exit status for it.
int ReportResult(const char* what, int code);
// The meaning of a result code.
const char* ResultText(int code);

}  // namespace qvarc
