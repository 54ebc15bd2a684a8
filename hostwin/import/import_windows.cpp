#include "import_windows.h"

#include <string>
#include <vector>

#include "import_error.h"
#include "hostwin/registry_store.h"
#include "hostwin/short_names.h"
#include "import_plan.h"
#include "machine_folder_writer.h"
#include "source_drive.h"
#include "source_kind.h"
#include "win9x_registry.h"
#include "windows_source.h"

namespace hostwin_import {

namespace {

std::string MachineIni(const std::string& version, const std::string& windowsDirectory,
                       const std::vector<std::string>& drives) {
    std::string text = "[system]\nversion=" + version + "\nwindir=" + windowsDirectory +
                       "\n\n[drives]\n";
    for (const std::string& d : drives) text += d + "=fixed\n";
    return text;
}

}  // namespace

// One way from source to written folder: tell the kind of source, read it (its Windows
// directory and registry), plan and check every file, then write the folder.
ImportSummary ImportWindows(const ImportOptions& options) {
    if (options.machineFolder.empty() || options.source.empty())
        throw ImportError("both the machine folder and --from SOURCE are needed");
    const SourceKind kind = KindOf(options.source, options.windowsFolder);
    CheckOutsideInputs(options);

    hostwin::RegistryStore store;
    const WindowsSource source = ReadWindowsSource(options, kind, store);
    ImportSummary summary;
    summary.sourceKind = source.kindName;
    summary.keys = source.keys;
    summary.version = VersionWord(store, options.source);

    const ImportPlan plan = PlanImport(source, store, options.source);
    summary.windowsDirectory = plan.windowsDirectory;
    summary.drives = plan.drives;

    const std::string registryText = store.Serialize();
    WriteMachineFolder(options.machineFolder, plan, *source.drive,
                       MachineIni(summary.version, summary.windowsDirectory, summary.drives),
                       registryText, summary);
    return summary;
}

}  // namespace hostwin_import
