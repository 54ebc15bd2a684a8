// Finds the FAT file systems of a raw disk image: a whole disk with an MBR partition table
// (primary partitions and the logical ones of an extended partition), or one partition alone.
// The image is only read.
#ifndef HOSTWIN_IMPORT_DISK_IMAGE_H
#define HOSTWIN_IMPORT_DISK_IMAGE_H

#include <cstdint>
#include <string>
#include <vector>

namespace hostwin_import {

struct FatPartition {
    uint64_t offset = 0;  // bytes from the start of the image
    uint64_t size = 0;
    int number = 0;       // 1-4 primary, 5.. logical, 0 for an image of one partition
    bool logical = false;
    bool active = false;
};

// The FAT partitions in the order Windows 9x gives them drive letters on one disk: the active
// (else the first) primary partition, the logical partitions, then the other primary ones.
// Throws ImportError when the image cannot be read or holds no FAT file system.
std::vector<FatPartition> FindFatPartitions(const std::string& image);

// Whether the host file starts like a disk image (a boot sector or partition table signature),
// to tell an image from a registry export given as SOURCE.
bool LooksLikeDiskImage(const std::string& hostFile);

}  // namespace hostwin_import

#endif
