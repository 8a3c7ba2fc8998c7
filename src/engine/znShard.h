#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

// One part of a batch split among independent processes: shard Index of
// Count keeps the documents whose relative path hashes to Index. Count 0
// means the batch is not split.
struct TznShard
{
    int Index = 0;
    int Count = 0;

    bool IsSplit() const { return Count > 0; }
    // True when the document at relative path (below the source folder,
    // '/' between folders) belongs to this shard; always true unsplit.
    bool Keeps(const QString& relativePath) const;
};

// The most shards a batch is split into.
inline constexpr int MaxShards = 1000000;

// FNV-1a, 64 bits, over bytes: the same value on every machine and build,
// so that processes on different hosts agree on every document's shard.
uint64_t StableHash(const QByteArray& bytes);

// Reads "I/N" (decimal, 0 <= I < N <= MaxShards, no blanks). The empty
// text is the unsplit batch. Returns false, with error saying why, for
// anything else.
bool ParseShard(const QString& text, TznShard& shard, QString& error);
