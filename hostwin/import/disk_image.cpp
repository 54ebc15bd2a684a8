#include "disk_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "import_error.h"

namespace hostwin_import {

namespace {

constexpr size_t kSector = 512;
constexpr int kMaxLogical = 64;  // a longer chain of extended boot records is a loop

uint32_t Read32(const unsigned char* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

class Image {
public:
    explicit Image(const std::string& path) : path_(path) {
        fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0) throw ImportError(path + ": cannot be read: " + std::strerror(errno));
        struct stat st;
        if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd_);
            throw ImportError(path + ": is not a disk image file");
        }
        size_ = static_cast<uint64_t>(st.st_size);
    }
    ~Image() { ::close(fd_); }
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;

    bool Sector(uint64_t offset, unsigned char* out) const {
        if (offset > size_ || size_ - offset < kSector) return false;
        return ::pread(fd_, out, kSector, static_cast<off_t>(offset)) ==
               static_cast<ssize_t>(kSector);
    }
    uint64_t Size() const { return size_; }

private:
    std::string path_;
    int fd_ = -1;
    uint64_t size_ = 0;
};

bool HasBootSignature(const unsigned char* s) { return s[510] == 0x55 && s[511] == 0xAA; }

// A FAT boot sector: the jump, a sane sector size and cluster size, and a FAT type text.
bool IsFatBootSector(const unsigned char* s) {
    if (!(s[0] == 0xEB || s[0] == 0xE9)) return false;
    const unsigned bytesPerSector = s[11] | (s[12] << 8);
    const unsigned sectorsPerCluster = s[13];
    if (bytesPerSector < 512 || bytesPerSector > 4096 || (bytesPerSector & (bytesPerSector - 1)))
        return false;
    if (sectorsPerCluster == 0 || (sectorsPerCluster & (sectorsPerCluster - 1))) return false;
    return std::memcmp(s + 54, "FAT", 3) == 0 || std::memcmp(s + 82, "FAT32", 5) == 0;
}

bool IsFatType(unsigned type) {
    switch (type) {
        case 0x01: case 0x04: case 0x06: case 0x0B: case 0x0C: case 0x0E:
        case 0x11: case 0x14: case 0x16: case 0x1B: case 0x1C: case 0x1E:  // hidden variants
            return true;
        default:
            return false;
    }
}

bool IsExtendedType(unsigned type) { return type == 0x05 || type == 0x0F; }

// Adds the partition when its boot sector is a FAT one and it lies inside the image.
void AddIfFat(const Image& image, FatPartition p, std::vector<FatPartition>& out) {
    if (p.size == 0 || p.offset >= image.Size()) return;
    unsigned char boot[kSector];
    if (!image.Sector(p.offset, boot) || !IsFatBootSector(boot)) return;
    out.push_back(p);
}

}  // namespace

bool LooksLikeDiskImage(const std::string& hostFile) {
    try {
        Image image(hostFile);
        unsigned char first[kSector];
        return image.Sector(0, first) && HasBootSignature(first);
    } catch (const ImportError&) {
        return false;
    }
}

std::vector<FatPartition> FindFatPartitions(const std::string& path) {
    Image image(path);
    unsigned char first[kSector];
    if (!image.Sector(0, first))
        throw ImportError(path + ": too small to be a disk image");
    std::vector<FatPartition> found;
    if (IsFatBootSector(first)) {
        FatPartition whole;
        whole.size = image.Size();
        found.push_back(whole);
        return found;
    }
    if (!HasBootSignature(first))
        throw ImportError(path + ": is neither a FAT file system nor a disk with a partition table");

    std::vector<FatPartition> primary, logical;
    for (int i = 0; i < 4; ++i) {
        const unsigned char* e = first + 446 + 16 * i;
        const unsigned type = e[4];
        const uint64_t start = static_cast<uint64_t>(Read32(e + 8)) * kSector;
        const uint64_t size = static_cast<uint64_t>(Read32(e + 12)) * kSector;
        if (IsFatType(type)) {
            FatPartition p;
            p.offset = start;
            p.size = size;
            p.number = i + 1;
            p.active = e[0] == 0x80;
            AddIfFat(image, p, primary);
        } else if (IsExtendedType(type)) {
            // Logical partitions: a chain of extended boot records, each giving one partition
            // (relative to itself) and the next record (relative to the extended partition).
            uint64_t ebr = start;
            for (int n = 0; n < kMaxLogical && ebr != 0; ++n) {
                unsigned char record[kSector];
                if (!image.Sector(ebr, record) || !HasBootSignature(record)) break;
                const unsigned char* part = record + 446;
                const unsigned char* next = record + 446 + 16;
                if (IsFatType(part[4])) {
                    FatPartition p;
                    p.offset = ebr + static_cast<uint64_t>(Read32(part + 8)) * kSector;
                    p.size = static_cast<uint64_t>(Read32(part + 12)) * kSector;
                    p.number = 5 + static_cast<int>(logical.size());
                    p.logical = true;
                    AddIfFat(image, p, logical);
                }
                const uint64_t following = start + static_cast<uint64_t>(Read32(next + 8)) * kSector;
                if (!IsExtendedType(next[4]) || following <= ebr) break;
                ebr = following;
            }
        }
    }
    // Drive letter order: the active (else first) primary, the logicals, the other primaries.
    size_t bootIndex = 0;
    for (size_t i = 0; i < primary.size(); ++i)
        if (primary[i].active) {
            bootIndex = i;
            break;
        }
    if (!primary.empty()) found.push_back(primary[bootIndex]);
    found.insert(found.end(), logical.begin(), logical.end());
    for (size_t i = 0; i < primary.size(); ++i)
        if (i != bootIndex) found.push_back(primary[i]);
    if (found.empty())
        throw ImportError(path + ": the disk image has no FAT16 or FAT32 partition");
    return found;
}

}  // namespace hostwin_import
