// Reads a Windows 9x registry hive (SYSTEM.DAT, USER.DAT: the CREG format) with libcreg into a
// key of hostwin's registry store: every key and value below the hive's root, in the hive's
// order, names and data byte for byte, value types kept.
#ifndef HOSTWIN_IMPORT_HIVE_READER_H
#define HOSTWIN_IMPORT_HIVE_READER_H

#include <cstdint>
#include <string>

#include "hostwin/registry_store.h"

namespace hostwin_import {

// The largest hive read: many times the size of any Windows 9x registry, which the system
// itself keeps well below this; a larger file is refused before its bytes are copied.
constexpr uint64_t kHiveFileLimit = uint64_t{256} << 20;

// Copies the hive in hostFile below `into` (the hive root's values onto `into` itself). label
// names the hive in error messages (e.g. C:\WINDOWS\SYSTEM.DAT). Throws ImportError for a file
// that is not a Windows 9x hive (an NT hive, no signature), a truncated or corrupt one, and
// names the registry file cannot hold (empty key names, backslashes, line breaks, zero bytes).
// The key tree is checked before libcreg reads it: a sibling list or subtree that loops back,
// a key listed under two parents, or nesting deeper than 512 keys is a corrupt hive.
// Returns the number of keys read.
size_t ReadHive(const std::string& hostFile, const std::string& label,
                hostwin::RegistryStore& store, hostwin::RegistryKey& into);

}  // namespace hostwin_import

#endif
