// The self-removal: the batch text, where it cannot be written, and the batch run after the
// program, through hostwin's command interpreter.
#include "self_removal.h"

#include "upgrade_fixture.h"

namespace {

class SelfRemovalTest : public UpgradeTest {
protected:
    // The program's executable at a machine path, run from its own folder.
    void InstallProgram(const ScratchMachine& machine, const std::string& folder) {
        machine.Write(folder + "/UPGRADE.EXE", "program");
        hostwin::SetProgram(machine.Path(folder + "/UPGRADE.EXE"), "Cleanup");
        EnterFolder(machine, folder);
    }
    static bool BatchStarted(const ScratchMachine& machine) {
        return !EventsOf(machine, "process-create").empty();
    }
};

TEST_F(SelfRemovalTest, TheBatchDeletesTheProgramItsFolderAndItself) {
    struct Case {
        const char* modulePath;
        const char* text;
    } cases[] = {
        {"C:\\WINDOWS\\TEMP\\PELLAM\\UPGRADE.EXE",
         ":Repeat\r\ndel \"C:\\WINDOWS\\TEMP\\PELLAM\\UPGRADE.EXE\"\r\n"
         "if exist \"C:\\WINDOWS\\TEMP\\PELLAM\\UPGRADE.EXE\" goto Repeat\r\n"
         "rmdir \"C:\\WINDOWS\\TEMP\\PELLAM\"\r\ndel \"\\PellamUpgradeDelUS.bat\"\r\n"},
        {"D:\\UPGRADE.EXE",
         ":Repeat\r\ndel \"D:\\UPGRADE.EXE\"\r\nif exist \"D:\\UPGRADE.EXE\" goto Repeat\r\n"
         "rmdir \"D:\"\r\ndel \"\\PellamUpgradeDelUS.bat\"\r\n"},
        {"C:\\50%OFF\\UP%1.EXE",
         ":Repeat\r\ndel \"C:\\50%%OFF\\UP%%1.EXE\"\r\nif exist \"C:\\50%%OFF\\UP%%1.EXE\" goto "
         "Repeat\r\nrmdir \"C:\\50%%OFF\"\r\ndel \"\\PellamUpgradeDelUS.bat\"\r\n"},
    };
    for (const Case& c : cases) {
        char text[1024];
        ASSERT_TRUE(FormatSelfRemovalBatch(c.modulePath, text, sizeof text));
        EXPECT_STREQ(c.text, text);
    }
}

TEST_F(SelfRemovalTest, APathThatWouldNotFitGivesNoBatch) {
    char text[1024];
    const std::string percents = "C:\\" + std::string(250, '%') + "\\U.EXE";
    EXPECT_FALSE(FormatSelfRemovalBatch(percents.c_str(), text, sizeof text));
    const std::string plain = "C:\\" + std::string(250, 'P') + "\\U.EXE";
    EXPECT_FALSE(FormatSelfRemovalBatch(plain.c_str(), text, 512));
    EXPECT_TRUE(FormatSelfRemovalBatch(plain.c_str(), text, sizeof text));
}

TEST_F(SelfRemovalTest, AfterTheProgramTheBatchRemovesProgramFolderAndItself) {
    struct Case {
        const char* folder;
        const char* leftover;  // a file the moves left in the folder, or null
        bool readOnly;         // the program came read-only from a CD
    } cases[] = {
        {"c/WINDOWS/TEMP/PELLAM", nullptr, false},
        {"c/WINDOWS/TEMP/50%OFF%PATH%", nullptr, false},  // % must reach del as it stands
        {"c/WINDOWS/TEMP/Pellam Upgrade", "readme.txt", false},
        {"c/WINDOWS/TEMP/FROMCD", nullptr, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder);
        ScratchMachine machine{{"c/WINDOWS/TEMP/other.txt", "stays"}};
        InstallProgram(machine, c.folder);
        if (c.leftover) machine.Write(std::string(c.folder) + "/" + c.leftover, "left");
        machine.Write("c/PellamUpgradeDelUS.bat", "an older batch of that name");
        if (c.readOnly) {
            ASSERT_TRUE(SetFileAttributesA("UPGRADE.EXE", FILE_ATTRIBUTE_READONLY));
        }

        RemoveSelf();

        ASSERT_TRUE(WaitUntil([&] { return !machine.Exists("c/PellamUpgradeDelUS.bat"); }));
        ASSERT_TRUE(WaitUntil([&] { return !EventsOf(machine, "batch-end").empty(); }));
        EXPECT_FALSE(machine.Exists(std::string(c.folder) + "/UPGRADE.EXE"));
        EXPECT_EQ(c.leftover != nullptr, machine.Exists(c.folder));
        EXPECT_EQ("stays", machine.Read("c/WINDOWS/TEMP/other.txt"));
        EXPECT_EQ("done", FieldOf(EventsOf(machine, "batch-end")[0], "result"));
        // Started suspended at idle priority, resumed after this program raised its own.
        std::vector<std::string> steps;
        for (const std::string& line : machine.Journal()) {
            const std::string event = FieldOf(line, "event");
            if (event == "process-create" || event == "thread-priority" ||
                event == "priority-class" || event == "thread-resume")
                steps.push_back(event);
        }
        EXPECT_EQ((std::vector<std::string>{"process-create", "thread-priority", "thread-priority",
                                            "priority-class", "thread-resume"}),
                  steps);
        const auto created = EventsOf(machine, "process-create");
        EXPECT_EQ("0x44", FieldOf(created[0], "flags"));
        EXPECT_EQ("C:\\", FieldOf(created[0], "directory"));
    }
}

TEST_F(SelfRemovalTest, NothingStartsWhereTheBatchCouldNeverFinishOrNotBeWritten) {
    struct Case {
        const char* name;
        const char* drives;
        const char* programFolder;
        const char* currentFolder;
    } cases[] = {
        // The current drive's root is write-protected: no batch file, no process.
        {"batch root on a CD", "c=fixed\nd=cdrom", "d/PELLAM", "d/PELLAM"},
        // The program on a CD could never be deleted: its batch would repeat for ever.
        {"program on a CD", "c=fixed\nd=cdrom", "d/PELLAM", "c/TEMP"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchMachine machine{{"machine.ini", std::string("[drives]\n") + c.drives + "\n"},
                               {"c/TEMP/x", ""}};
        machine.Write(std::string(c.programFolder) + "/UPGRADE.EXE", "program");
        hostwin::SetProgram(machine.Path(std::string(c.programFolder) + "/UPGRADE.EXE"), "");
        EnterFolder(machine, c.currentFolder);
        RemoveSelf();
        EXPECT_FALSE(BatchStarted(machine));
        EXPECT_FALSE(machine.Exists("c/PellamUpgradeDelUS.bat"));
        EXPECT_FALSE(machine.Exists("d/PellamUpgradeDelUS.bat"));
        EXPECT_TRUE(machine.Exists(std::string(c.programFolder) + "/UPGRADE.EXE"));
    }
}

TEST_F(SelfRemovalTest, AProgramInADriveRootKeepsTheRoot) {
    ScratchMachine machine{{"machine.ini", "[drives]\nc=fixed\ne=removable\n"}, {"e/data.txt", "x"}};
    InstallProgram(machine, "e");
    RemoveSelf();
    ASSERT_TRUE(WaitUntil([&] { return !machine.Exists("e/PellamUpgradeDelUS.bat"); }));
    EXPECT_FALSE(machine.Exists("e/UPGRADE.EXE"));
    EXPECT_EQ("x", machine.Read("e/data.txt"));
    bool rootRemoveRefused = false;
    for (const std::string& line : EventsOf(machine, "dir-remove"))
        rootRemoveRefused |= FieldOf(line, "path") == "E:\\" && line.find("\"ok\":false") != std::string::npos;
    EXPECT_TRUE(rootRemoveRefused);
}

}  // namespace
