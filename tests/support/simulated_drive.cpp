#include "simulated_drive.h"

#include <algorithm>

namespace qvtest {

SimulatedDrive::SimulatedDrive(const std::filesystem::path& root, int disks, uint64_t capacity)
    : drive_(root / "drive"), capacity_(capacity) {
    for (int i = 1; i <= disks; ++i) {
        disks_.push_back(root / ("disk" + std::to_string(i)));
        std::filesystem::create_directories(disks_.back());
        labels_.emplace_back();
    }
    std::filesystem::create_directories(root / "empty-drive");
    std::filesystem::create_directory_symlink(root / "empty-drive", drive_);
    qv::os::SetVolumeService(this);
}

SimulatedDrive::~SimulatedDrive() { qv::os::SetVolumeService(nullptr); }

void SimulatedDrive::Insert(int n) {
    std::filesystem::remove(drive_);
    std::filesystem::create_directory_symlink(n == 0 ? drive_.parent_path() / "empty-drive" : disks_[n - 1], drive_);
    inserted_ = n;
}

bool SimulatedDrive::OnDrive(std::string_view root) const {
    std::string r(root);
    std::replace(r.begin(), r.end(), '\\', '/');
    const std::string d = drive_.string();
    return r.compare(0, d.size(), d) == 0;
}

uint32_t SimulatedDrive::DriveType(std::string_view root) {
    return OnDrive(root) ? qv::os::kDriveRemovable : qv::os::kDriveFixed;
}

bool SimulatedDrive::FreeSpace(std::string_view root, uint64_t* bytes) {
    if (!OnDrive(root)) {
        *bytes = 1ull << 40;
        return true;
    }
    if (inserted_ == 0) return false;
    uint64_t used = 0;
    for (const auto& e : std::filesystem::directory_iterator(disks_[inserted_ - 1]))
        if (e.is_regular_file()) used += e.file_size();
    *bytes = used >= capacity_ ? 0 : capacity_ - used;
    return true;
}

bool SimulatedDrive::GetLabel(std::string_view root, std::string* label) {
    label->clear();
    if (!OnDrive(root) || inserted_ == 0) return OnDrive(root) ? false : true;
    *label = labels_[inserted_ - 1];
    return true;
}

bool SimulatedDrive::SetLabel(std::string_view root, std::string_view label) {
    if (!OnDrive(root) || inserted_ == 0) return false;
    labels_[inserted_ - 1] = std::string(label);
    return true;
}

}  // namespace qvtest
