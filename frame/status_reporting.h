// status_reporting.h - the library's switches and its one channel back to the host.
//
// Progress, notices about single members and questions all go through ReportStatus, which
// hands the status block to the host's callback or, without one, to a message box.
#pragma once

#include <atomic>
#include <cstdint>

#include "qvarc32.h"

namespace qv {

// Library-wide settings and the status block (one instance, zero at load).
struct StatusState {
    uint16_t cprintEnabled = 0;
    QvStatusCallback cprintHook = nullptr;
    uint16_t doEventsEnabled = 0;
    // Set by Qv4Cancel, possibly from inside the status callback while a call runs.
    std::atomic<uint16_t> cancelRequest{0};
    uint16_t parseType = 0;
    uint16_t parsePlace = 0;
    StatusBlock block{};
    uint8_t extra[4] = {};  // DOS date then DOS time of the member being extracted
};

StatusState& Status();

// Hands block to the host and returns its answer (a message-box result).
int16_t ReportStatus(StatusBlock block);
// The library's own message box for block.
int16_t DefaultStatusBox(const StatusBlock& block);
// Lets the host's window messages through when the pump is on.
void PumpMessages();
// True (and the request cleared) when the host asked to cancel.
bool ConsumeCancel();
bool CancelPending();

}  // namespace qv
