// cmd_utilities.h - the utility subcommands of qvarc: uuencode, uudecode, crlf and lf.
#pragma once

// Runs the utility subcommand named by argv[1] (argv as main receives it) and returns its exit
// status; -1 when argv[1] names none of them. The commands also register themselves with the
// command table.
int RunUtilityCommand(int argc, char** argv);
