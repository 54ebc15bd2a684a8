// The groups that run several removal profiles, the platform tests, and the gates that run a
// profile or group only on the Windows 9x family. Every call goes through the table of
// operations, so whatever stands in a profile's or test's place is what runs.
#include <cstring>

#include "driver_cleaner.h"

namespace {

// A fresh version query; false when the platform does not answer it.
bool QueryVersion(OSVERSIONINFOA& version) {
    std::memset(&version, 0, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
    return GetVersionExA(&version) != FALSE;
}

}  // namespace

void CDriverCleaner::RemoveAllCardPackages() {
    RemoveComboModem4();
    RemoveAudioDevices();
    RemoveComboModem3();
    RemoveLegacyModem();
    RemoveBr10Package();
    RemoveKmq4Package();
    RemoveBr30Package();
}

void CDriverCleaner::RemoveSm56Packages() {
    RemoveSm56Isa();
    RemoveSm56Pci();
}

void CDriverCleaner::RemoveLegacySet() {
    RemoveLegacyModem();
    RemoveSm56Packages();
    RemoveAudioDevices();
    RemoveBr10Package();
}

void CDriverCleaner::RemoveEverything() {
    Win9xRemoveSm56Packages();
    Win9xRemoveAllCardPackages();
    Win9xRemoveLegacySet();
}

void CDriverCleaner::RemoveCardsAndSm56() {
    Win9xRemoveSm56Packages();
    Win9xRemoveAllCardPackages();
}

bool CDriverCleaner::IsWindows9x() {
    OSVERSIONINFOA version;
    return QueryVersion(version) && version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;
}

bool CDriverCleaner::IsWindows95() {
    OSVERSIONINFOA version;
    const bool answered = QueryVersion(version);
    if (!IsWindows9x()) return false;
    return answered && version.dwMajorVersion == 4 && version.dwMinorVersion == 0;
}

void CDriverCleaner::Win9xRemoveAllCardPackages() {
    if (IsWindows9x()) RemoveAllCardPackages();
}

void CDriverCleaner::Win9xRemoveAudioDevices() {
    if (IsWindows9x()) RemoveAudioDevices();
}

void CDriverCleaner::Win9xRemoveComboModem4() {
    if (IsWindows9x()) RemoveComboModem4();
}

void CDriverCleaner::Win9xRemoveComboModem3() {
    if (IsWindows9x()) RemoveComboModem3();
}

void CDriverCleaner::Win9xRemoveBr10Package() {
    if (IsWindows9x()) RemoveBr10Package();
}

void CDriverCleaner::Win9xRemoveLegacySet() {
    if (IsWindows9x()) RemoveLegacySet();
}

void CDriverCleaner::Win9xRemoveSm56Packages() {
    if (IsWindows9x()) RemoveSm56Packages();
}
