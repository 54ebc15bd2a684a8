// The self-removal: the batch text, where it cannot be written, and the batch run after the
// program through hostwin's command interpreter.
#include "self_removal.h"

#include "upgrade_fixture.h"

namespace {

class SelfRemovalTest : public UpgradeTest {
protected:
    // The program's executable in a machine folder, run from currentFolder (a drive's root
    // below, since a folder that this process, the program here, has as its current
    // directory cannot be removed).
    static void InstallProgram(const ScratchMachine& machine, const std::string& folder,
                               const std::string& currentFolder) {
        machine.Write(folder + "/UPGRADE.EXE", "program");
        hostwin::SetProgram(machine.Path(folder + "/UPGRADE.EXE"), "Cleanup");
        EnterFolder(machine, currentFolder);
    }
};

TEST_F(SelfRemovalTest, TheBatchTextIsExactAndStaysInItsBuffer) {
    char text[1024];
    ASSERT_TRUE(FormatSelfRemovalBatch("C:\\WINDOWS\\TEMP\\PELLAM\\UPGRADE.EXE", text, sizeof text));
    EXPECT_STREQ(
        ":Repeat\r\ndel \"C:\\WINDOWS\\TEMP\\PELLAM\\UPGRADE.EXE\"\r\n"
        "if exist \"C:\\WINDOWS\\TEMP\\PELLAM\\UPGRADE.EXE\" goto Repeat\r\n"
        "rmdir \"C:\\WINDOWS\\TEMP\\PELLAM\"\r\ndel \"\\PellamUpgradeDelUS.bat\"\r\n",
        text);
    // Around the limits: the text and its zero must fit both the buffer and the 1024
    // characters that wsprintfA writes at most. A % reaches the batch doubled.
    for (int length : {MAX_PATH - 1, MAX_PATH, MAX_PATH + 40})  // MAX_PATH or more: refused
        EXPECT_EQ(length < MAX_PATH, FormatSelfRemovalBatch(("C:\\" + std::string(length - 11, 'P') + "\\UPG.EXE").c_str(), text, sizeof text));
    for (int percents = 145; percents <= 155; ++percents)
        for (const char* plain : {"", "D"})
            for (int nameLength = 10; nameLength <= 30; ++nameLength) {
                const std::string dir = "C:\\" + std::string(percents, '%') + plain;
                const std::string module = dir + "\\" + std::string(nameLength, 'F');
                const std::string quotedDir = "C:\\" + std::string(2 * percents, '%') + plain;
                const std::string quoted = quotedDir + "\\" + std::string(nameLength, 'F');
                const std::string expected = ":Repeat\r\ndel \"" + quoted + "\"\r\nif exist \"" + quoted +
                                             "\" goto Repeat\r\nrmdir \"" + quotedDir +
                                             "\"\r\ndel \"\\PellamUpgradeDelUS.bat\"\r\n";
                char large[2048];
                const bool fits = expected.size() < 1024;
                ASSERT_EQ(fits, FormatSelfRemovalBatch(module.c_str(), large, sizeof large)) << module;
                if (!fits) continue;
                EXPECT_EQ(expected, large);
                const int exact = static_cast<int>(expected.size());
                EXPECT_FALSE(FormatSelfRemovalBatch(module.c_str(), large, exact));
                EXPECT_TRUE(FormatSelfRemovalBatch(module.c_str(), large, exact + 1));
            }
}

TEST_F(SelfRemovalTest, AfterTheProgramTheBatchRemovesProgramFolderAndItself) {
    struct Case {
        const char* folder;
        const char* leftover;  // a file the moves left in the folder, or null
        DWORD attributes;      // of the program, which the batch's del would refuse or skip
    } cases[] = {
        {"c/WINDOWS/TEMP/50%OFF%PATH%", nullptr, 0},  // % must reach del as it stands
        {"c/WINDOWS/TEMP/Pellam Upgrade", "readme.txt", 0},
        {"c/WINDOWS/TEMP/FROMCD", nullptr, FILE_ATTRIBUTE_READONLY},
        {"c/WINDOWS/TEMP/HIDDEN", nullptr, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM},
        {"e", "data.txt", 0},  // a drive root is kept
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder);
        ScratchMachine machine{{"c/WINDOWS/TEMP/other.txt", "stays"}};
        const std::string batch = std::string(c.folder, 1) + "/PellamUpgradeDelUS.bat";
        machine.Write(batch, "an older batch of that name");
        InstallProgram(machine, c.folder, std::string(c.folder, 1));
        const std::string leftover = c.leftover ? std::string(c.folder) + "/" + c.leftover : "";
        if (c.leftover) machine.Write(leftover, "left");
        if (c.attributes) {
            ASSERT_TRUE(SetFileAttributesA(
                (std::string(1, c.folder[0]) + ":" + (c.folder + 1) + "/UPGRADE.EXE").c_str(),
                c.attributes));
        }

        RemoveSelf();

        ASSERT_TRUE(WaitUntil([&] { return !EventsOf(machine, "batch-end").empty(); }));
        EXPECT_EQ("done", FieldOf(EventsOf(machine, "batch-end")[0], "result"));
        EXPECT_FALSE(machine.Exists(batch));
        EXPECT_FALSE(machine.Exists(std::string(c.folder) + "/UPGRADE.EXE"));
        EXPECT_EQ(c.leftover != nullptr, machine.Exists(c.folder));
        if (c.leftover) {
            EXPECT_EQ("left", machine.Read(leftover));
        }
        EXPECT_EQ("stays", machine.Read("c/WINDOWS/TEMP/other.txt"));
    }
}

// Where the batch could not be written or could never finish, nothing is started, no batch
// is left and the program keeps its attributes.
TEST_F(SelfRemovalTest, NothingStartsWhereTheBatchCouldNeverFinishOrNotBeWritten) {
    const std::string longFolder = "c/" + std::string(250, 'L');  // a path of 260 characters or more
    const struct { const char* program; const char* current; DWORD attributes; } cases[] = {
        {longFolder.c_str(), "c/TEMP", 0},
        {"c/TEMP", "d/PELLAM", FILE_ATTRIBUTE_READONLY},  // the batch's root on the CD
        {"d/PELLAM", "c/TEMP", 0},                        // a program on a CD
        {"a/PELLAM", "c/TEMP", 0},                        // or on a write-protected disk
        {"a/PELLAM", "c/TEMP", FILE_ATTRIBUTE_HIDDEN},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.program) + " " + std::to_string(c.attributes));
        ScratchMachine machine{{"machine.ini", "[drives]\nc=fixed\nd=cdrom\na=removable\n"},
                               {"c/TEMP/x", ""},
                               {"d/PELLAM/x", ""},
                               {"a/PELLAM/x", ""}};
        InstallProgram(machine, c.program, c.current);
        // The path cut to 259 characters names another file, which must not become the target.
        if (c.program == longFolder) machine.Write(longFolder + "/UPGRA", "another file");
        const std::string program =
            std::string(1, c.program[0]) + ":" + (c.program + 1) + "/UPGRADE.EXE";
        if (c.attributes) {
            ASSERT_TRUE(SetFileAttributesA(program.c_str(), c.attributes));
        }
        machine.Write("machine.ini", "[drives]\nc=fixed\nd=cdrom\na=removable write-protected\n");
        hostwin::OpenMachine(machine.Root());
        const DWORD before = GetFileAttributesA(program.c_str());
        RemoveSelf();
        EXPECT_TRUE(EventsOf(machine, "process-create").empty());
        for (const char* drive : {"a", "c", "d"})
            EXPECT_FALSE(machine.Exists(std::string(drive) + "/PellamUpgradeDelUS.bat"));
        EXPECT_TRUE(machine.Exists(std::string(c.program) + "/UPGRADE.EXE"));
        EXPECT_EQ(before, GetFileAttributesA(program.c_str()));
    }
}

// The batch runs in the root of the current directory's drive: a network current directory
// rules it out, a network program run from a local directory does not; a CD's program never.
TEST_F(SelfRemovalTest, WhereTheBatchCouldRunIsJudgedByItsCurrentDirectory) {
    ScratchMachine machine{{"machine.ini", "[drives]\nc=fixed\nd=cdrom\ne=remote\n"}};
    const struct { const char* program; const char* current; bool canFinish; } cases[] = {
        {"\\\\server\\share\\PELLAM\\UPGRADE.EXE", "C:\\TEMP", true},
        {"C:\\TEMP\\PELLAM\\UPGRADE.EXE", "\\\\server\\share\\TEMP", false},
        {"C:\\TEMP\\PELLAM\\UPGRADE.EXE", "C:\\TEMP\\PELLAM", true},
        {"E:\\PELLAM\\UPGRADE.EXE", "E:\\PELLAM", true},
        {"D:\\PELLAM\\UPGRADE.EXE", "C:\\", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.canFinish, SelfRemovalCanFinish(c.program, c.current)) << c.program << " from " << c.current;
}

}  // namespace
