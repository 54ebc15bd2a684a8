/* Stand-in for the installed driver's setup program: appends the arguments it was started with
   to BR10SETP.LOG beside itself, byte for byte as the sample machine's host script does, so
   that both builds of the upgrade program leave the same log. */
#include <windows.h>
#include <stdio.h>
#include <string.h>

int main(int argc, char **argv) {
    char path[MAX_PATH + 16];
    DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH);
    char *slash;
    FILE *log;
    int i;

    if (length == 0 || length >= MAX_PATH || !(slash = strrchr(path, '\\'))) return 1;
    strcpy(slash + 1, "BR10SETP.LOG");
    if (!(log = fopen(path, "ab"))) return 1;
    fputs("br10setp.exe started with:", log);
    for (i = 1; i < argc; ++i) fprintf(log, " %s", argv[i]);
    if (argc < 2) fputc(' ', log);
    fputc('\n', log);
    return fclose(log) == 0 ? 0 : 1;
}
