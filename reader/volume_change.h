// volume_change.h - moving between the volumes of a multi-volume set.
//
// Spanned sets live on removable disks labelled "PKBACK# 001", "PKBACK# 002", ...; split sets
// live in numbered files. These operations close the current volume, ask the user for the
// next one through the status dispatcher when the drive is removable, check its label and
// open it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "archive_handles.h"
#include "result.h"

namespace qv {

// Labels of spanned volumes: "PKBACK# " and the volume number in three digits.
inline constexpr char kVolumeLabelPrefix[] = "PKBACK# ";
std::string SpannedVolumeLabel(unsigned volume);

// The root of the volume that holds an (OEM) archive name: its drive with "\" appended.
// Without drive letters (POSIX) the folder that holds the archive stands for the drive.
std::string VolumeRootOf(std::string_view oemArchiveName);

// Closes the archive, asks for volume *volume (1 to 999; any other number asks for the last
// volume), checks the label of the inserted disk and reopens the archive for reading,
// storing the new handle through *handle.
Result RequestVolume(uint16_t* volume, std::string_view oemArchiveName, FileHandle* handle);

// Closes the current volume of record and opens volume record.diskNumber, as a new volume
// to write (writing) or an existing one.
Result ChangeVolume(ArchiveRecord& record, bool writing);

// Free bytes on the drive of path (a network path counts as 524288000); 0 when unknown.
uint32_t FreeSpace(std::string_view oemPath);

// Labels the drive of path: 105 on failure.
Result SetLabel(std::string_view oemPath, std::string_view label);

}  // namespace qv
