// owned_file.h - file handles that clean up after themselves, for the utilities' sources and
// outputs.
#pragma once

#include <string>
#include <utility>

#include "os.h"

namespace qv {

// A handle that is closed when it goes.
class OwnedFile {
public:
    OwnedFile() = default;
    explicit OwnedFile(os::FileHandle h) : handle_(h) {}
    ~OwnedFile() { Close(); }
    OwnedFile(const OwnedFile&) = delete;
    OwnedFile& operator=(const OwnedFile&) = delete;

    os::FileHandle get() const { return handle_; }
    bool valid() const { return handle_ != os::kInvalidHandle; }
    // Closes the file held so far and takes h.
    void Reset(os::FileHandle h) {
        Close();
        handle_ = h;
    }
    // Closes the file now; false when the system reports a failure.
    bool Close() {
        if (handle_ == os::kInvalidHandle) return true;
        return os::CloseHandle(std::exchange(handle_, os::kInvalidHandle));
    }

private:
    os::FileHandle handle_ = os::kInvalidHandle;
};

// An output being written: closed when it goes and deleted as well unless Keep() was called,
// so that a failed operation leaves no half-written file behind. Only a file this object was
// given an open handle for is ever deleted.
class OutputFile {
public:
    OutputFile() = default;
    // ansiName: the name as the file system sees it.
    OutputFile(std::string ansiName, os::FileHandle h) : name_(std::move(ansiName)), file_(h) {}
    ~OutputFile() { Discard(); }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    os::FileHandle get() const { return file_.get(); }
    bool valid() const { return file_.valid(); }
    const std::string& name() const { return name_; }
    // Discards the output held so far and takes the newly opened h.
    void Adopt(std::string ansiName, os::FileHandle h) {
        Discard();
        name_ = std::move(ansiName);
        file_.Reset(h);
    }
    // Closes the file and keeps it; false when closing failed (the file is then deleted).
    bool Keep() {
        if (!file_.valid()) return false;
        if (!file_.Close()) {
            os::DeleteFile(name_);
            return false;
        }
        return true;
    }
    // Closes the file and deletes it.
    void Discard() {
        if (!file_.valid()) return;
        file_.Close();
        os::DeleteFile(name_);
    }

private:
    std::string name_;
    OwnedFile file_;
};

}  // namespace qv
