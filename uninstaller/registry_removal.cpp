// Registry removal primitives: keys and values by path, by subkey name, by value name and by
// the contents of a string value.
#include "driver_cleaner.h"

void CDriverCleaner::DeleteSubkey(HKEY, const char*, const char*) {}
void CDriverCleaner::DeleteValue(HKEY, const char*) {}
void CDriverCleaner::DeleteValueAt(HKEY, const char*, const char*) {}
bool CDriverCleaner::IsKeyEmpty(HKEY, const char*) { return false; }
void CDriverCleaner::DeleteKeyIfEmpty(HKEY, const char*, const char*) {}
int CDriverCleaner::DeleteSubkeysWithValue(HKEY, const char*, const char*, const char*) { return 0; }
void CDriverCleaner::DeleteSectionsWithValue(HKEY, const char*, const char*, const char*, bool) {}
void CDriverCleaner::DeleteSubkeysNamed(HKEY, const char*, const char*) {}
void CDriverCleaner::DeleteValuesNamed(HKEY, const char*, const char*) {}
