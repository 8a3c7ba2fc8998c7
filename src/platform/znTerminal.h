#pragma once

#include <cstdio>

// True when stream writes to a terminal (not a file, pipe or null device).
bool IsTerminal(std::FILE* stream);
