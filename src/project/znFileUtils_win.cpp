#include "project/znFileUtils.h"

bool TznFileUtils::IsFileOpen(const QString&)
{
    // A file another process holds open cannot be deleted here, so the
    // deletion that follows this question fails on its own.
    return false;
}
