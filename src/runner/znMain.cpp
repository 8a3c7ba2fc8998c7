#include "runner/znMain.h"

#include <cstdio>

TznMain* Runner = nullptr;

TznMain::TznMain() = default;
TznMain::~TznMain() = default;

int TznMain::Run()
{
    std::fprintf(stderr, "leafpress: the unattended runner is not available in this build yet\n");
    return 2;
}
