#include "open_names.h"

#include <vector>

#include "file_primitives.h"
#include "os.h"

namespace qv {
namespace {

// A namespace-scope object: it outlives the list of open archives, whose destructor closes
// what a host left open when the library unloads and takes the names off this list.
std::string gOpenNames;

std::string& List() { return gOpenNames; }

// The full path, in OEM, of an OEM name resolved against the current directory (at most 255
// characters, as the list has always held them).
std::string FullOemPath(std::string_view oemName) {
    std::string full = os::AnsiToOem(os::GetFullPathName(os::OemToAnsi(oemName)));
    if (full.size() > 255) full.resize(255);
    return full;
}

std::vector<std::string> Entries() {
    std::vector<std::string> out;
    const std::string& list = List();
    size_t pos = 0;
    while ((pos = list.find('"', pos)) != std::string::npos) {
        const size_t end = list.find('"', pos + 1);
        if (end == std::string::npos) break;
        out.push_back(list.substr(pos + 1, end - pos - 1));
        pos = end + 1;
    }
    return out;
}

}  // namespace

Result AddOpenName(std::string_view oemName) {
    if (oemName.empty()) return QV_E_BAD_NAME;
    const std::string full = FullOemPath(oemName);
    std::string& list = List();
    if (!list.empty()) list += ' ';
    list += '"' + full + '"';
    return QV_OK;
}

void RemoveOpenName(std::string_view oemName) {
    if (oemName.empty()) return;
    const std::string full = FullOemPath(oemName);
    std::string rebuilt;
    bool removed = false;
    for (const auto& entry : Entries()) {
        if (!removed && CompareNames(entry, full) == 0) {
            removed = true;
            continue;
        }
        if (!rebuilt.empty()) rebuilt += ' ';
        rebuilt += '"' + entry + '"';
    }
    List().swap(rebuilt);
    if (List().empty()) List().shrink_to_fit();
}

bool IsOpenName(std::string_view oemName) {
    if (oemName.empty() || List().empty()) return false;
    const std::string full = FullOemPath(oemName);
    for (const auto& entry : Entries())
        if (CompareNames(entry, full) == 0) return true;
    return false;
}

const std::string& OpenNames() { return List(); }

}  // namespace qv
