#pragma once

#include "engine/znBatch.h"

// The file-name matcher of the product: tests a path against an expression
// without regard to letter case.
class TznMatch : public TznMatchBase
{
public:
    TznMatch();
    ~TznMatch() override;

    // True when pattern matches anywhere in path, letter case ignored; true
    // also when pattern is not a valid expression or anything else fails.
    bool MatchName(const QString& path, const QString& pattern) override;
};

// The one matcher of the process; none before start-up has created it.
extern TznMatch* Matcher;
