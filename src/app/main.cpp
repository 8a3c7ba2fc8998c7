#include "app/znStartup.h"
#include "app/znVersion.h"

#include "project/znProject.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(HelpText().toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (argc == 2 && (std::strcmp(argv[1], "--version") == 0 || std::strcmp(argv[1], "-V") == 0)) {
        std::printf("Leafpress Compactor %s\n", ProductVersion);
        return 0;
    }
    return RunProgram(argc, argv);
}
