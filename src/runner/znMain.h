#pragma once

// The unattended runner: converts one batch without a window.
class TznMain
{
public:
    TznMain();
    ~TznMain();

    // The whole unattended run; returns when it is over.
    int Run();
};

// The one runner of the process.
extern TznMain* Runner;
