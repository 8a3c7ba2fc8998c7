#include "runner/znProgressLine.h"

#include "platform/znTerminal.h"

namespace {

QString clock(qint64 ms)
{
    const qint64 seconds = ms / 1000;
    if (seconds >= 3600)
        return QStringLiteral("%1:%2:%3")
            .arg(seconds / 3600)
            .arg(seconds / 60 % 60, 2, 10, QChar(u'0'))
            .arg(seconds % 60, 2, 10, QChar(u'0'));
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QChar(u'0'));
}

} // namespace

QString ProgressText(const TznProgressCounts& c)
{
    QString left = QStringLiteral("?");
    if (!c.Listing && c.Done > 0 && c.Listed >= c.Done)
        left = clock(c.ElapsedMs * (c.Listed - c.Done) / c.Done);
    return QStringLiteral("%1/%2%3 documents, %4 failed, %5 MB saved, %6 elapsed, %7 left")
        .arg(c.Done)
        .arg(c.Listed)
        .arg(c.Listing ? QStringLiteral("+") : QString())
        .arg(c.Failures)
        .arg(double(qMax<qint64>(c.SavedBytes, 0)) / (1024.0 * 1024.0), 0, 'f', 1)
        .arg(clock(c.ElapsedMs), left);
}

TznProgressLine::TznProgressLine(std::FILE* stream, bool silenced)
    : FStream(stream)
    , FEnabled(!silenced && IsTerminal(stream))
{
}

TznProgressLine::~TznProgressLine()
{
    Clear();
}

void TznProgressLine::Show(const TznProgressCounts& counts)
{
    if (!FEnabled || (FLastDraw.isValid() && FLastDraw.elapsed() < 100))
        return;
    FLastDraw.start();
    // Carriage return, the text, then erase what a longer text before it
    // left on the right.
    const QByteArray bytes = "\r" + ProgressText(counts).toLocal8Bit() + "\x1b[K";
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), FStream);
    std::fflush(FStream);
    FShown = true;
}

void TznProgressLine::Clear()
{
    if (!FShown)
        return;
    std::fputs("\r\x1b[K", FStream);
    std::fflush(FStream);
    FShown = false;
}
