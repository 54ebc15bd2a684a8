/* Stand-in for the installed driver's setup program: appends the arguments it was started with
   to BR10SETP.LOG in its working directory, byte for byte as the sample machine's host script
   does, so that both builds of the upgrade program leave the same log. */
#include <stdio.h>

int main(int argc, char **argv) {
    FILE *log = fopen("BR10SETP.LOG", "ab");
    int i;
    if (!log) return 1;
    fputs("br10setp.exe started with:", log);
    for (i = 1; i < argc; ++i) fprintf(log, " %s", argv[i]);
    if (argc < 2) fputc(' ', log);
    fputc('\n', log);
    return fclose(log) == 0 ? 0 : 1;
}
