// Reads a Windows 9x registry hive (SYSTEM.DAT, USER.DAT: the CREG format) with libcreg into a
// key of hostwin's registry store: every key and value below the hive's root, in the hive's
// order, names and data byte for byte, value types kept.
#ifndef HOSTWIN_IMPORT_HIVE_READER_H
#define HOSTWIN_IMPORT_HIVE_READER_H

#include <string>

#include "hostwin/registry_store.h"

namespace hostwin_import {

// Copies the hive in hostFile below `into` (the hive root's values onto `into` itself). label
// names the hive in error messages (e.g. C:\WINDOWS\SYSTEM.DAT). Throws ImportError for a file
// that is not a Windows 9x hive (an NT hive, no signature), a truncated or corrupt one, and
// names the registry file cannot hold (empty key names, backslashes, line breaks, zero bytes).
// Returns the number of keys read.
size_t ReadHive(const std::string& hostFile, const std::string& label,
                hostwin::RegistryStore& store, hostwin::RegistryKey& into);

}  // namespace hostwin_import

#endif
