#include "engine/znShard.h"

#include <QRegularExpression>

uint64_t StableHash(const QByteArray& bytes)
{
    uint64_t hash = 0xcbf29ce484222325ULL;
    for (const char c : bytes) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

bool TznShard::Keeps(const QString& relativePath) const
{
    if (!IsSplit())
        return true;
    // Hashed as stored on a POSIX host: a Windows path reads the same.
    QString path = relativePath;
    path.replace(u'\\', u'/');
    return StableHash(path.toUtf8()) % uint64_t(Count) == uint64_t(Index);
}

bool ParseShard(const QString& text, TznShard& shard, QString& error)
{
    shard = TznShard();
    if (text.isEmpty())
        return true;
    static const QRegularExpression form(QStringLiteral("^([0-9]{1,7})/([0-9]{1,7})$"));
    const QRegularExpressionMatch match = form.match(text);
    const int index = match.hasMatch() ? match.captured(1).toInt() : -1;
    const int count = match.hasMatch() ? match.captured(2).toInt() : 0;
    if (count < 1 || count > MaxShards || index < 0 || index >= count) {
        error = QStringLiteral("invalid shard '%1': expected I/N with 0 <= I < N <= %2").arg(text).arg(MaxShards);
        return false;
    }
    shard.Index = index;
    shard.Count = count;
    return true;
}
