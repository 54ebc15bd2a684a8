// CDriverCleaner: the uninstaller's one working object. Everything the uninstaller can remove,
// and every way of removing it, is one of its 37 virtual operations, declared here in their
// fixed table order. Every operation reaches every other one through the table, so a derived
// cleaner that replaces an operation changes what every caller of it runs.
#ifndef UNINSTALLER_DRIVER_CLEANER_H
#define UNINSTALLER_DRIVER_CLEANER_H

#include <windows.h>

// Receives one log line (zero-terminated, no line end), valid only during the call.
typedef void (*LogCallback)(const char* line);

// Sizes of the engine's text buffers.
enum {
    kPathBufferSize = MAX_PATH,   // paths, key names, subkey and value names
    kValueDataBufferSize = 512,   // registry value data
    kLogLineBufferSize = 512      // one log line
};

class CDriverCleaner {
public:
    // Fills the Windows directory; the object starts without a log callback.
    CDriverCleaner();
    // Not virtual: the table of operations holds no destructor.
    ~CDriverCleaner();
    CDriverCleaner(const CDriverCleaner&) = delete;
    CDriverCleaner& operator=(const CDriverCleaner&) = delete;

    virtual void Log(const char* text);                                             // 0
    virtual void RemoveAllCardPackages();                                           // 1
    virtual void RemoveSm56Packages();                                              // 2
    virtual void RemoveLegacySet();                                                 // 3
    virtual void RemoveComboModem4();                                               // 4
    virtual void RemoveComboModem3();                                               // 5
    virtual void RemoveAudioDevices();                                              // 6
    virtual void RemoveLegacyModem();                                               // 7
    virtual void RemoveBr10Package();                                               // 8
    virtual void RemoveKmq4Package();                                               // 9
    virtual void RemoveBr30Package();                                               // 10
    virtual void RemoveSm56Isa();                                                   // 11
    virtual void RemoveSm56Pci();                                                   // 12
    virtual int GetRootKeyName(HKEY root, char* buffer, int bufferSize);            // 13
    virtual void RemoveTextFromFile(const char* fileName, const char* text);        // 14
    virtual void DeleteSubkey(HKEY root, const char* path, const char* name);       // 15
    virtual void DeleteValue(HKEY key, const char* valueName);                      // 16
    virtual void DeleteValueAt(HKEY root, const char* path, const char* valueName); // 17
    virtual void DeleteFilesMatching(const char* directory, const char* pattern);   // 18
    virtual bool IsKeyEmpty(HKEY root, const char* path);                           // 19
    virtual void DeleteKeyIfEmpty(HKEY root, const char* path, const char* name);   // 20
    virtual int DeleteSubkeysWithValue(HKEY root, const char* path, const char* valueName,
                                       const char* text);                           // 21
    virtual void DeleteSectionsWithValue(HKEY root, const char* path, const char* valueName,
                                         const char* text, bool deleteSection);     // 22
    virtual void DeleteSubkeysNamed(HKEY root, const char* path, const char* text); // 23
    virtual void DeleteValuesNamed(HKEY root, const char* path, const char* text);  // 24
    virtual void SetLogCallback(LogCallback callback);                              // 25
    virtual void RemoveEverything();                                                // 26
    virtual void RemoveCardsAndSm56();                                              // 27
    virtual bool IsWindows9x();                                                     // 28
    virtual bool IsWindows95();                                                     // 29
    virtual void Win9xRemoveAllCardPackages();                                      // 30
    virtual void Win9xRemoveAudioDevices();                                         // 31
    virtual void Win9xRemoveComboModem4();                                          // 32
    virtual void Win9xRemoveComboModem3();                                          // 33
    virtual void Win9xRemoveBr10Package();                                          // 34
    virtual void Win9xRemoveLegacySet();                                            // 35
    virtual void Win9xRemoveSm56Packages();                                         // 36

protected:
    // The Windows directory (no trailing backslash), or null when it could not be had:
    // the buffer could not be allocated, or the platform gave no directory that fits.
    const char* WindowsDirectory() const;

    // Formats one log line into a bounded buffer and hands it to Log (cut at 511 characters).
    void LogFormatted(const char* format, ...);

private:
    LogCallback logCallback;
    char* windowsDirectory;  // kPathBufferSize characters, owned
};

#endif
