// A removable drive for tests: a folder whose inserted "disk" the test swaps, with a label
// per disk. Install it as the platform's volume service for the life of the object.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "os.h"

namespace qvtest {

class SimulatedDrive final : public qv::os::VolumeService {
public:
    // Makes `disks` empty disks under root; the drive itself is root/"drive".
    SimulatedDrive(const std::filesystem::path& root, int disks, uint64_t capacity = 1u << 20);
    ~SimulatedDrive() override;

    // The folder that is the drive (where the inserted disk's files appear).
    std::string drive() const { return drive_.string(); }
    // Puts disk n (from 1) into the drive; 0 leaves it empty.
    void Insert(int n);
    int inserted() const { return inserted_; }
    void SetDiskLabel(int n, const std::string& label) { labels_[n - 1] = label; }
    const std::string& DiskLabel(int n) const { return labels_[n - 1]; }
    std::filesystem::path DiskFolder(int n) const { return disks_[n - 1]; }

    uint32_t DriveType(std::string_view root) override;
    bool FreeSpace(std::string_view root, uint64_t* bytes) override;
    bool GetLabel(std::string_view root, std::string* label) override;
    bool SetLabel(std::string_view root, std::string_view label) override;

private:
    bool OnDrive(std::string_view root) const;
    std::filesystem::path drive_;
    std::vector<std::filesystem::path> disks_;
    std::vector<std::string> labels_;
    uint64_t capacity_;
    int inserted_ = 0;
};

}  // namespace qvtest
