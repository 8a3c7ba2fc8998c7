#include "znTestRequire.h"

#include <QtGlobal>

bool RequireAll()
{
    return qEnvironmentVariable("LP_REQUIRE_ALL") == QStringLiteral("1");
}
