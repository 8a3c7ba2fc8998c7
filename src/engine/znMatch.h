#pragma once

// The file-name matcher shared by every batch and thread.
class TznMatch
{
public:
    TznMatch();
    ~TznMatch();
};

// The one matcher of the process.
extern TznMatch* Matcher;
