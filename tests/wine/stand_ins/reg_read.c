/* Reads registry keys back through the registry API and writes them in the REGEDIT4 layout,
   every value as hex(type) bytes so that nothing is lost to text conversion.
     reg_read.exe <list file> <output file>
   The list names one full key path a line (HKEY_LOCAL_MACHINE\...); keys that cannot be
   opened are left out of the output. */
#include <windows.h>
#include <stdio.h>
#include <string.h>

static HKEY root_of(const char *path, const char **rest) {
    static const struct { const char *name; HKEY key; } roots[] = {
        {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT}, {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
        {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE}, {"HKEY_USERS", HKEY_USERS},
        {"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG}, {"HKEY_DYN_DATA", HKEY_DYN_DATA}};
    size_t i;
    for (i = 0; i < sizeof roots / sizeof roots[0]; ++i) {
        size_t n = strlen(roots[i].name);
        if (_strnicmp(path, roots[i].name, n) == 0 && (path[n] == '\\' || path[n] == '\0')) {
            *rest = path[n] ? path + n + 1 : path + n;
            return roots[i].key;
        }
    }
    return NULL;
}

static void write_name(FILE *out, const char *name) {
    if (!name[0]) { fputc('@', out); return; }
    fputc('"', out);
    for (; *name; ++name) {
        if (*name == '\\' || *name == '"') fputc('\\', out);
        fputc(*name, out);
    }
    fputc('"', out);
}

static void write_key(FILE *out, const char *path) {
    const char *rest;
    HKEY root = root_of(path, &rest), key;
    DWORD index;
    if (!root || RegOpenKeyExA(root, rest, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    fprintf(out, "[%s]\r\n", path);
    for (index = 0;; ++index) {
        char name[16384];
        static BYTE data[1 << 20];
        DWORD name_size = sizeof name, data_size = sizeof data, type, i;
        if (RegEnumValueA(key, index, name, &name_size, NULL, &type, data, &data_size) != ERROR_SUCCESS)
            break;
        write_name(out, name);
        fprintf(out, "=hex(%lx):", type);
        for (i = 0; i < data_size; ++i) fprintf(out, i ? ",%02x" : "%02x", data[i]);
        fputs("\r\n", out);
    }
    fputs("\r\n", out);
    RegCloseKey(key);
}

int main(int argc, char **argv) {
    char line[4096];
    FILE *list, *out;
    if (argc != 3 || !(list = fopen(argv[1], "rb")) || !(out = fopen(argv[2], "wb"))) {
        fprintf(stderr, "reg_read: cannot open the list or the output\n");
        return 2;
    }
    fputs("REGEDIT4\r\n\r\n", out);
    while (fgets(line, sizeof line, list)) {
        size_t n = strlen(line);
        while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r')) line[--n] = '\0';
        if (n) write_key(out, line);
    }
    fclose(list);
    return fclose(out) == 0 ? 0 : 1;
}
