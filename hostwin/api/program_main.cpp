// main() of a program built for this host: starts the program's WinMain as Windows would.
#include <windows.h>

#include "hostwin.h"

int main(int argc, char** argv) { return hostwin::RunProgram(argc, argv, &WinMain); }
