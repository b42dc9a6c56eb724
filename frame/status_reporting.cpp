#include "status_reporting.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "os.h"
#include "result.h"

namespace qv {

namespace {
// Namespace scope: it outlives the open archives that are closed when the library unloads.
StatusState gStatus;
}  // namespace

StatusState& Status() { return gStatus; }

namespace {

const char* OperationWord(int16_t operation) {
    switch (operation) {
        case QV_OP_ZIPPING: return "Zipping";
        case QV_OP_UNZIPPING: return "UnZipping";
        case QV_OP_DELETING: return "Deleting";
        case QV_OP_TESTING: return "Testing";
        case QV_OP_INDEXING: return "Indexing";
        default: return "";
    }
}

std::string FieldText(const char (&field)[260]) {
    return std::string(field, strnlen(field, sizeof field));
}

}  // namespace

int16_t DefaultStatusBox(const StatusBlock& block) {
    std::string text = FieldText(block.fileName);
    uint32_t type = 0;
    switch (block.kind) {
        case QV_STATUS_NOTICE:
            switch (block.code) {
                case QV_E_DATA: text += ": CRC mismatch. File may have error."; break;
                case QV_E_PASSWORD: text += ": wrong password. Skipping file."; break;
                case QV_E_METHOD: text += ": unknown compression method. Skipping file."; break;
                case QV_E_FILE: text += ": access denied. Skipping file."; break;
                // Notices this library adds to the extraction's set: a stored path that would
                // have left the destination, and an output path too long to make.
                case QV_E_PATH: text += ": unsafe path parts removed from the name."; break;
                case QV_E_TOO_LONG: text += ": output path too long. Skipping file."; break;
                default: break;
            }
            type = os::kMbOkCancel | os::kMbIconExclamation;
            break;
        case QV_STATUS_QUESTION:
            if (block.code == QV_ASK_INSERT_DISK) {
                text = "Insert disk # " + std::to_string(block.disk);
                type = os::kMbOkCancel;
            } else if (block.code == QV_ASK_OVERWRITE) {
                text += ": file already exists. Overwrite it?";
                type = os::kMbYesNoCancel | os::kMbDefButton2;
            } else if (block.code == QV_ASK_LAST_DISK) {
                text = "Insert the last disk of the set.";
                type = os::kMbOkCancel;
            }
            type |= os::kMbIconQuestion;
            break;
        default: return QV_ANSWER_OK;
    }
    return static_cast<int16_t>(os::MessageBox(text, OperationWord(block.operation), type));
}

int16_t ReportStatus(StatusBlock block) {
    StatusState& s = Status();
    if (!s.cprintEnabled) {
        // Nobody is asked: notices are acknowledged, the overwrite question is answered No
        // and volume requests are refused.
        if (block.kind == QV_STATUS_QUESTION)
            return block.code == QV_ASK_OVERWRITE ? QV_ANSWER_NO : QV_ANSWER_CANCEL;
        return QV_ANSWER_OK;
    }
    // Hosts see Windows separators.
    for (char* field : {block.archiveName, block.fileName})
        std::replace(field, field + 260, '/', '\\');
    if (!s.cprintHook) return DefaultStatusBox(block);
    const int16_t answer = s.cprintHook(block);
    return answer == QV_ANSWER_DEFAULT_BOX ? DefaultStatusBox(block) : answer;
}

void PumpMessages() {
    if (Status().doEventsEnabled) os::PeekMessages();
}

bool ConsumeCancel() { return Status().cancelRequest.exchange(0) != 0; }
bool CancelPending() { return Status().cancelRequest.load() != 0; }

}  // namespace qv

using qv::Status;

QV_API void QV_CALL Qv4SetCPrint(int32_t on) {
    auto& s = Status();
    if (static_cast<int16_t>(on) != 0) {
        StatusBlock& b = s.block;
        b.archiveName[0] = '\0';
        b.fileName[0] = '\0';
        b.operation = -1;
        b.totalSize = b.processedSize = b.packedSize = 0;
        b.method = 0;
        b.reserved1 = 0;
        b.reserved2 = 0;
        s.cprintEnabled = 1;
    } else {
        s.cprintEnabled = 0;
    }
}

QV_API int32_t QV_CALL Qv4GetCPrint(void) { return Status().cprintEnabled ? 1 : 0; }

QV_API void QV_CALL Qv4CPrintHook(QvStatusCallback callback) { Status().cprintHook = callback; }

QV_API int32_t QV_CALL Qv4ExtendedCPrintInfo(int32_t count, void* destination) {
    const int16_t n = static_cast<int16_t>(count);
    if (n < 1 || destination == nullptr) return 0;
    const int copied = std::min<int>(n, 4);
    std::memcpy(destination, Status().extra, static_cast<size_t>(copied));
    return copied;
}

QV_API void QV_CALL Qv4SetDoEvents(int32_t on) { Status().doEventsEnabled = static_cast<int16_t>(on) != 0; }
QV_API int32_t QV_CALL Qv4GetDoEvents(void) { return Status().doEventsEnabled ? 1 : 0; }
QV_API void QV_CALL Qv4Cancel(void) { Status().cancelRequest.store(1); }
QV_API void QV_CALL Qv4SetParseType(int32_t on) { Status().parseType = static_cast<int16_t>(on) != 0; }
QV_API int32_t QV_CALL Qv4GetParseType(void) { return Status().parseType == 1 ? -1 : 0; }
QV_API uint32_t QV_CALL Qv4GetParsePlace(void) { return Status().parsePlace; }

// Conversions kept for hosts written against 16-bit interfaces.
QV_API uint32_t QV_CALL QvFarAddr(uint32_t segment, uint32_t offset) {
    return ((segment & 0xFFFF) << 16) | (offset & 0xFFFF);
}
QV_API uint32_t QV_CALL QvLongLow(uint32_t value) { return value; }
QV_API uint32_t QV_CALL QvLongHigh(uint32_t value) { return value >> 16; }
QV_API uint32_t QV_CALL LSeg(uint32_t value) { return value; }
QV_API uint32_t QV_CALL VarSeg(uint32_t value) { return value >> 16; }
QV_API uint32_t QV_CALL VarPtr(uint32_t value) { return value; }
