// make_test_hives REGISTRY.REG SYSTEM.DAT USER.DAT: writes the Windows 9x hives of a machine
// folder's registry with the test hive writer, for end-to-end tests that build a disk image of
// a machine: SYSTEM.DAT from HKEY_LOCAL_MACHINE, USER.DAT from HKEY_USERS when that holds
// anything, else from HKEY_CURRENT_USER (the default user's tree).
#include <cstdio>
#include <exception>
#include <string>

#include "creg_writer.h"
#include "hostwin/registry_store.h"

namespace {

void Convert(const hostwin::RegistryKey& from, test_support::CregKey& to) {
    for (size_t i = 0; i < from.ValueCount(); ++i) {
        const hostwin::RegistryValue& v = from.ValueAt(i);
        to.Set(v.type, std::string(v.name), std::string(v.data));
    }
    for (size_t i = 0; i < from.SubkeyCount(); ++i)
        Convert(from.SubkeyAt(i), to.Add(std::string(from.SubkeyAt(i).Name())));
}

bool WriteHive(const hostwin::RegistryKey& root, const std::string& path) {
    test_support::CregKey hive;
    hive.name = "ROOT";
    Convert(root, hive);
    return test_support::WriteHostFile(path, test_support::WriteCreg(hive));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: make_test_hives REGISTRY.REG SYSTEM.DAT USER.DAT\n");
        return 2;
    }
    try {
        const auto store = hostwin::RegistryStore::Load(argv[1]);
        const hostwin::RegistryKey& users = *store->Root(HKEY_USERS);
        const bool usersEmpty = users.SubkeyCount() == 0 && users.ValueCount() == 0;
        if (!WriteHive(*store->Root(HKEY_LOCAL_MACHINE), argv[2]) ||
            !WriteHive(usersEmpty ? *store->Root(HKEY_CURRENT_USER) : users, argv[3])) {
            std::fprintf(stderr, "make_test_hives: cannot write the hives\n");
            return 1;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_test_hives: %s\n", e.what());
        return 1;
    }
    return 0;
}
