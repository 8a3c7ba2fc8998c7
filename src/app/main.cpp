#include "app/znStartup.h"

#include "project/znProject.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--help") == 0) {
        std::fputs(HelpText().toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
        std::puts("Leafpress Compactor 2024.16.323.3021");
        return 0;
    }
    return RunProgram(argc, argv);
}
