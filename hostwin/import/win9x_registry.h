// How Windows 9x shows its two hives as the six predefined roots, and the settings a machine
// folder takes from its registry.
//
// On Windows 9x, HKEY_LOCAL_MACHINE is SYSTEM.DAT and HKEY_USERS is USER.DAT; the other roots
// are links into them: HKEY_CLASSES_ROOT is HKEY_LOCAL_MACHINE\Software\Classes,
// HKEY_CURRENT_USER is HKEY_USERS\.DEFAULT (the default user) and HKEY_CURRENT_CONFIG is the
// current hardware profile HKEY_LOCAL_MACHINE\Config\NNNN. HKEY_DYN_DATA lives in memory only.
// hostwin's registry keeps six independent trees, so the links are written out as copies.
#ifndef HOSTWIN_IMPORT_WIN9X_REGISTRY_H
#define HOSTWIN_IMPORT_WIN9X_REGISTRY_H

#include <string>

#include "hostwin/registry_store.h"

namespace hostwin_import {

// Places the contents of USER.DAT (read into userHive, a root of a scratch store) below
// HKEY_USERS: a hive whose root holds a .DEFAULT key is HKEY_USERS itself; any other hive is
// the default user's tree and becomes HKEY_USERS\.DEFAULT.
void PlaceUserHive(const hostwin::RegistryKey& userHive, hostwin::RegistryStore& store);

// For a REGEDIT4 export: whatever it lists under the linked roots belongs to the keys they stand
// for and is merged into those; HKEY_DYN_DATA is dropped. Call before LinkRoots.
void FoldLinkedRoots(hostwin::RegistryStore& store);

// Fills HKEY_CLASSES_ROOT, HKEY_CURRENT_USER and HKEY_CURRENT_CONFIG as copies of the keys they
// stand for (replacing what they held); HKEY_DYN_DATA ends empty.
void LinkRoots(hostwin::RegistryStore& store);

// The name of the current hardware profile below HKEY_LOCAL_MACHINE\Config (e.g. 0001), from
// IDConfigDB's CurrentConfig; else the only profile there is; else "".
std::string CurrentConfigName(const hostwin::RegistryStore& store);

// The machine.ini version word for the registry's VersionNumber (4.00.950 -> win95, 4.10.x ->
// win98, 4.90.x -> winme). Throws ImportError when the value is missing or names another
// release; source names the registry in the message.
std::string VersionWord(const hostwin::RegistryStore& store, const std::string& source);

// A REG_SZ value below HKEY_LOCAL_MACHINE as text without its zero byte; "" when missing.
std::string MachineText(const hostwin::RegistryStore& store, const std::string& keyPath,
                        const std::string& valueName);

// Copies every value and subkey of from into to (existing ones are replaced or merged).
void CopyTree(hostwin::RegistryStore& store, const hostwin::RegistryKey& from,
              hostwin::RegistryKey& to);

}  // namespace hostwin_import

#endif
