/* Holds files open as a running program holds its own executable: others may read them, but
   not write, move or delete them.
     hold_open.exe <list file> <ready file>
   The list names one Windows path a line; the ready file is created once all are open. The
   program then waits until it is ended. */
#include <windows.h>
#include <stdio.h>
#include <string.h>

int main(int argc, char **argv) {
    char line[MAX_PATH + 2];
    FILE *list;
    HANDLE ready;

    if (argc != 3 || !(list = fopen(argv[1], "rb"))) {
        fprintf(stderr, "hold_open: cannot read the list\n");
        return 2;
    }
    while (fgets(line, sizeof line, list)) {
        size_t n = strlen(line);
        while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r')) line[--n] = '\0';
        if (n == 0) continue;
        if (CreateFileA(line, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL) ==
            INVALID_HANDLE_VALUE) {
            fprintf(stderr, "hold_open: cannot open %s (%lu)\n", line, GetLastError());
            fclose(list);
            return 1;
        }
    }
    fclose(list);
    ready = CreateFileA(argv[2], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (ready == INVALID_HANDLE_VALUE) return 1;
    CloseHandle(ready);
    Sleep(INFINITE);
    return 0;
}
