#include "import_plan.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <set>

#include "hostwin.h"
#include "import_error.h"
#include "hostwin/short_names.h"
#include "win9x_registry.h"
#include "windows_names.h"

namespace hostwin_import {

namespace {

constexpr size_t kMaxPath = 260;  // MAX_PATH: Windows 9x cannot reach longer paths
const char kAppsFolder[] = "PELLAPPS";  // the upgrade program's folder on the first fixed drive

int AnsiCodePage(const hostwin::RegistryStore& store) {
    const std::string acp =
        MachineText(store, "System\\CurrentControlSet\\Control\\Nls\\CodePage", "ACP");
    const int cp = std::atoi(acp.c_str());
    return cp > 0 ? cp : 1252;
}

// Plans the import of one folder tree of the source: every entry below sourceRoot (and the
// folder itself) placed at windowsRoot (e.g. C:\WINDOWS). Checks every name.
void PlanTree(SourceDrive& drive, const std::string& sourceRoot, const std::string& windowsRoot,
              const AnsiNames& names, std::vector<PlannedEntry>& plan) {
    const char letter = static_cast<char>(std::tolower(static_cast<unsigned char>(windowsRoot[0])));
    auto hostOf = [&](const std::string& windowsPath) {
        std::string rel(1, letter);
        for (size_t i = 2; i < windowsPath.size(); ++i)
            rel += windowsPath[i] == '\\' ? '/' : windowsPath[i];
        return rel;
    };
    PlannedEntry top;
    top.sourcePath = sourceRoot;
    top.windowsPath = windowsRoot;
    top.hostRelative = hostOf(windowsRoot);
    top.isDirectory = true;
    plan.push_back(top);

    std::set<std::string> seen;  // upper-cased Windows paths: names differing in case collide
    const std::string prefix = sourceRoot.empty() ? "" : sourceRoot + "/";
    for (const SourceEntry& e : drive.List(sourceRoot, true)) {
        if (e.path.compare(0, prefix.size(), prefix) != 0)
            throw ImportError(drive.Describe() + ": unexpected entry " + e.path);
        const std::string below = e.path.substr(prefix.size());
        std::string windowsPath = windowsRoot;
        std::string ansi;
        size_t start = 0;
        while (start <= below.size()) {
            size_t end = below.find('/', start);
            if (end == std::string::npos) end = below.size();
            const std::string name = below.substr(start, end - start);
            if (!names.ToAnsi(name, ansi))
                throw ImportError(drive.Describe() + ": the name \"" + e.path +
                                  "\" has characters outside the machine's code page " +
                                  std::to_string(names.CodePage()));
            const std::string problem = WindowsNameProblem(ansi);
            if (!problem.empty())
                throw ImportError(drive.Describe() + ": \"" + e.path + "\" has " + problem +
                                  "; it cannot be imported");
            windowsPath += "\\" + ansi;
            start = end + 1;
        }
        if (windowsPath.size() >= kMaxPath)
            throw ImportError(drive.Describe() + ": " + e.path + " gives a path of " +
                              std::to_string(windowsPath.size()) +
                              " characters, more than Windows 9x can reach");
        if (!seen.insert(Upper(windowsPath)).second)
            throw ImportError(drive.Describe() + ": two entries are both " + windowsPath +
                              " on Windows (names differ only in letter case)");
        PlannedEntry p;
        p.sourcePath = e.path;
        p.windowsPath = windowsPath;
        p.hostRelative = hostOf(windowsPath);
        p.isDirectory = e.isDirectory;
        p.attributes = e.attributes;
        // The file system's own short name is kept, so the machine finds the file by the
        // alias that programs and batch files on the real machine use.
        std::string alias;
        if (!e.alias.empty() && !hostwin::IsShortName(ansi) && names.ToAnsi(e.alias, alias) &&
            hostwin::IsShortName(alias))
            p.alias = alias;
        plan.push_back(p);
    }
}

}  // namespace

ImportPlan PlanImport(const WindowsSource& source, const hostwin::RegistryStore& store,
                      const std::string& sourceName) {
    ImportPlan plan;
    const AnsiNames names(AnsiCodePage(store));
    std::string ansiTail;
    for (size_t start = 0; start <= source.windowsTail.size();) {
        size_t end = source.windowsTail.find('\\', start);
        if (end == std::string::npos) end = source.windowsTail.size();
        std::string ansi;
        const std::string name = source.windowsTail.substr(start, end - start);
        if (!names.ToAnsi(name, ansi) || !WindowsNameProblem(ansi).empty())
            throw ImportError(sourceName + ": the Windows directory name \"" + source.windowsTail +
                              "\" cannot be used");
        ansiTail += (ansiTail.empty() ? "" : "\\") + ansi;
        start = end + 1;
    }
    plan.windowsDirectory = std::string(1, source.letter) + ":\\" + ansiTail;
    PlanTree(*source.drive, source.windowsSource, plan.windowsDirectory, names, plan.entries);
    if (source.hasAppsFolder) {
        SourceEntry apps;
        if (source.drive->Find("", kAppsFolder, apps) && apps.isDirectory)
            PlanTree(*source.drive, apps.path, std::string(1, source.letter) + ":\\" + kAppsFolder,
                     names, plan.entries);
    }

    plan.drives.push_back(std::string(1, static_cast<char>(std::tolower(source.letter))));
    for (char d : source.otherDrives)
        plan.drives.push_back(std::string(1, static_cast<char>(std::tolower(d))));
    for (const PlannedEntry& p : plan.entries) {
        if (!p.alias.empty()) plan.shortNames += p.alias + "\t" + p.windowsPath + "\n";
        if (p.attributes) {
            char hex[16];
            std::snprintf(hex, sizeof hex, "%08X", static_cast<unsigned>(p.attributes));
            plan.attributes += std::string(hex) + "\t" + p.windowsPath + "\n";
        }
    }
    return plan;
}

}  // namespace hostwin_import
