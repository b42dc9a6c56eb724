// result.h - the one way errors travel inside the library.
//
// Internal functions return a [[nodiscard]] qv::Result (the public ResultCode). The first
// failure ends an operation and is passed up unchanged: QV_TRY forwards it, QV_CHECK turns a
// failed check on an untrusted value into a given code. Debug builds log where it happened.
#pragma once

#include <cstdio>
#include <new>
#include <utility>

#include "qvarc32.h"

namespace qv {

// A ResultCode that must be looked at.
struct [[nodiscard]] Result {
    ResultCode code = QV_OK;
    constexpr Result() = default;
    constexpr Result(int c) : code(static_cast<ResultCode>(c)) {}  // NOLINT: implicit by design
    constexpr bool ok() const { return code == QV_OK; }
    constexpr explicit operator bool() const { return code != QV_OK; }  // true on failure
    constexpr bool operator==(const Result&) const = default;
    constexpr bool operator==(int c) const { return code == c; }
};

#ifndef NDEBUG
inline void LogFailure(const char* file, int line, const char* what, int code) {
    std::fprintf(stderr, "qvarc32: %s:%d: %s -> %d\n", file, line, what, code);
}
#define QV_LOG_FAILURE(what, code) ::qv::LogFailure(__FILE__, __LINE__, what, code)
#else
#define QV_LOG_FAILURE(what, code) ((void)0)
#endif

// Forward the first failure of expr.
#define QV_TRY(expr)                                  \
    do {                                              \
        ::qv::Result qvTryResult_ = (expr);           \
        if (!qvTryResult_.ok()) {                     \
            QV_LOG_FAILURE(#expr, qvTryResult_.code); \
            return qvTryResult_;                      \
        }                                             \
    } while (0)

// Fail with code unless cond holds (for values read from files and hosts).
#define QV_CHECK(cond, failCode)                      \
    do {                                              \
        if (!(cond)) {                                \
            QV_LOG_FAILURE(#cond, (failCode));        \
            return ::qv::Result(failCode);            \
        }                                             \
    } while (0)

// Runs the body of an export: no C++ exception crosses the C boundary; an allocation failure
// becomes 108.
template <typename F>
ResultCode Guarded(F&& body) noexcept {
    try {
        return static_cast<ResultCode>(std::forward<F>(body)().code);
    } catch (const std::bad_alloc&) {
        return QV_E_MEMORY;
    } catch (...) {
        return QV_E_MEMORY;
    }
}

}  // namespace qv
