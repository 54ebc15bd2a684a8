/* Starts a Windows program with an exact command line, which a Unix shell cannot hand over
   unchanged, and ends with that program's exit code.
     start_exact.exe <request file>
   The request file holds two lines: the working directory (empty: inherit ours) and the
   command line. */
#include <windows.h>
#include <stdio.h>
#include <string.h>

static void chomp(char *line) {
    size_t n = strlen(line);
    while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r')) line[--n] = '\0';
}

int main(int argc, char **argv) {
    char directory[MAX_PATH] = "", command[4096] = "";
    FILE *request;
    STARTUPINFOA startup;
    PROCESS_INFORMATION process;
    DWORD code = 255;

    if (argc != 2 || !(request = fopen(argv[1], "rb"))) {
        fprintf(stderr, "start_exact: cannot read the request file\n");
        return 254;
    }
    if (!fgets(directory, sizeof directory, request) || !fgets(command, sizeof command, request)) {
        fclose(request);
        fprintf(stderr, "start_exact: the request needs a directory line and a command line\n");
        return 254;
    }
    fclose(request);
    chomp(directory);
    chomp(command);

    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    if (!CreateProcessA(NULL, command, NULL, NULL, FALSE, 0, NULL,
                        directory[0] ? directory : NULL, &startup, &process)) {
        fprintf(stderr, "start_exact: CreateProcessA failed with %lu\n", GetLastError());
        return 253;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return (int)code;
}
