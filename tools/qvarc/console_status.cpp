// console_status.cpp - the host's status callback on a console: a progress line, notices,
// and questions answered at the keyboard (or refused when nobody can answer).
#include <cstdio>
#include <cstring>
#include <string>

#include "commands.h"

#if defined(_WIN32)
#include <io.h>
#define QVARC_ISATTY _isatty
#define QVARC_FILENO _fileno
#else
#include <unistd.h>
#define QVARC_ISATTY isatty
#define QVARC_FILENO fileno
#endif

namespace qvarc {
namespace {

const char* OperationWord(int16_t op) {
    switch (op) {
        case QV_OP_ZIPPING: return "adding";
        case QV_OP_UNZIPPING: return "extracting";
        case QV_OP_DELETING: return "deleting";
        case QV_OP_TESTING: return "testing";
        case QV_OP_INDEXING: return "indexing";
        default: return "working";
    }
}

// Reads one answer line; empty when nobody can answer (no terminal, end of input).
std::string AskLine(const char* prompt) {
    std::fprintf(stderr, "%s", prompt);
    std::fflush(stderr);
    if (!QVARC_ISATTY(QVARC_FILENO(stdin))) {
        std::fprintf(stderr, "(no console: refused)\n");
        return {};
    }
    char line[64];
    if (!std::fgets(line, sizeof line, stdin)) return {};
    return line;
}

int16_t QV_CALL ConsoleStatus(StatusBlock block) {
    const std::string file(block.fileName, strnlen(block.fileName, sizeof block.fileName));
    switch (block.kind) {
        case QV_STATUS_PROGRESS: {
            const uint32_t pct = Qv4ZipPercent(static_cast<int32_t>(block.totalSize),
                                               static_cast<int32_t>(block.totalSize - block.processedSize));
            const bool done = block.processedSize >= block.totalSize;
            std::fprintf(stderr, "\r  %s %s %3u%%%s", OperationWord(block.operation), file.c_str(),
                         done ? 100u : pct, done ? "\n" : "");
            return QV_ANSWER_OK;
        }
        case QV_STATUS_NOTICE:
            std::fprintf(stderr, "  %s: %s\n", file.c_str(), ResultText(block.code));
            return QV_ANSWER_OK;
        case QV_STATUS_QUESTION: {
            if (block.code == QV_ASK_OVERWRITE) {
                const std::string a = AskLine((file + " exists. Overwrite it? [y/N/c] ").c_str());
                if (a.empty()) return QV_ANSWER_NO;
                if (a[0] == 'y' || a[0] == 'Y') return QV_ANSWER_YES;
                if (a[0] == 'c' || a[0] == 'C') return QV_ANSWER_CANCEL;
                return QV_ANSWER_NO;
            }
            const std::string prompt =
                block.code == QV_ASK_INSERT_DISK
                    ? "Insert disk # " + std::to_string(block.disk) + " and press Enter (c to cancel) "
                    : std::string("Insert the last disk of the set and press Enter (c to cancel) ");
            const std::string a = AskLine(prompt.c_str());
            if (a.empty() || a[0] == 'c' || a[0] == 'C') return QV_ANSWER_CANCEL;
            return QV_ANSWER_OK;
        }
        default: return QV_ANSWER_OK;
    }
}

}  // namespace

void InstallConsoleStatus() {
    Qv4CPrintHook(&ConsoleStatus);
    Qv4SetCPrint(1);
}

const char* ResultText(int code) {
    switch (code) {
        case QV_OK: return "ok";
        case QV_E_BAD_NAME: return "bad or missing file name";
        case QV_E_PATH: return "a directory cannot be made or a path component is missing";
        case QV_E_FILE: return "file cannot be opened, read or written (access denied)";
        case QV_E_HANDLE: return "no open archive has this handle";
        case QV_E_MEMORY: return "out of memory";
        case QV_E_NOT_ARCHIVE: return "not an archive of a known kind";
        case QV_E_NO_DIRECTORY: return "no valid directory structure";
        case QV_E_METHOD: return "compression method not available";
        case QV_E_CANCELLED: return "cancelled";
        case QV_E_NOTHING: return "nothing to do";
        case QV_W_SKIPPED: return "finished with members skipped";
        case QV_E_OPTIONS: return "malformed option string";
        case QV_E_WRITE: return "writing failed";
        case QV_E_EOF: return "unexpected end of data";
        case QV_E_TOO_LONG: return "too long for the buffer or limit";
        case QV_E_NOTHING_NAMED: return "nothing was named";
        case QV_E_CONFLICT: return "options repeated or in conflict";
        case QV_E_TOO_MANY: return "too many members";
        case QV_E_BAD_DATE: return "bad date";
        case QV_E_ACCESS_MODE: return "not allowed in this access mode";
        case QV_E_PASSWORD: return "wrong password";
        case QV_E_DATA: return "data error (CRC mismatch)";
        case QV_E_UNCHANGEABLE: return "archive of this kind cannot be changed";
        case QV_E_NOT_STARTED: return "enumeration not started";
        case QV_E_NOT_REMOVABLE: return "not a removable drive";
        case QV_E_VERSION: return "unsupported format version";
        case QV_E_PASSWORD_MISMATCH: return "password does not match";
        default: return "unknown result";
    }
}

int ReportResult(const char* what, int code) {
    if (code == QV_OK) return 0;
    std::fprintf(stderr, "qvarc: %s: %s (%d)\n", what, ResultText(code), code);
    return code == QV_W_SKIPPED ? 1 : 3;
}

}  // namespace qvarc
