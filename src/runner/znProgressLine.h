#pragma once

#include <QElapsedTimer>
#include <QString>

#include <cstdio>

// What a running batch has done so far.
struct TznProgressCounts
{
    int Done = 0;
    int Listed = 0;
    int Failures = 0;
    qint64 SavedBytes = 0;
    qint64 ElapsedMs = 0;
    // The scanner is still listing: Listed may grow and no time left is
    // estimated.
    bool Listing = false;
};

// The text of the line: "12/40 documents, 1 failed, 3.4 MB saved, 0:07
// elapsed, 0:16 left".
QString ProgressText(const TznProgressCounts& counts);

// One live line on a terminal, redrawn in place. It draws only when its
// stream is a terminal and it was not silenced, at most ten times a second,
// and it is wiped before anything else is written there and at the end, so
// nothing of it stays on the screen or reaches a file or a pipe.
class TznProgressLine
{
public:
    TznProgressLine(std::FILE* stream, bool silenced);
    ~TznProgressLine();

    bool Enabled() const { return FEnabled; }
    // Draws counts unless the line was drawn less than 100 ms ago.
    void Show(const TznProgressCounts& counts);
    // Wipes the line; the next Show within the 100 ms does not draw it again.
    void Clear();

private:
    std::FILE* const FStream;
    const bool FEnabled;
    bool FShown = false;
    QElapsedTimer FLastDraw;
};
