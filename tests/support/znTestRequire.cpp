#include "znTestRequire.h"

#include <QString>

bool RequireAll()
{
    return qEnvironmentVariable("LP_REQUIRE_ALL") == QStringLiteral("1");
}
