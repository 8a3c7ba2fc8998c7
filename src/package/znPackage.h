#pragma once

#include "package/znPartName.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <memory>

struct zip;

// The largest XML part parsed: its tree takes a few times its size, once per
// worker, and no real document comes near it.
inline constexpr qint64 MaxXmlPartSize = qint64(256) << 20;

// Limits that keep a hostile package from exhausting memory or disk.
struct TznPackageLimits
{
    qint64 MaxFileSize = qint64(2) << 30;        // bytes of the package file itself
    qint64 MaxEntrySize = qint64(512) << 20;     // inflated bytes of one entry
    qint64 MaxXmlSize = MaxXmlPartSize;          // inflated bytes of one part named *.xml or *.rels
    qint64 MaxTotalSize = qint64(2) << 30;       // inflated bytes of all entries
    qint64 RatioFloor = qint64(16) << 20;        // the ratio is checked from this inflated size up
    qint64 MaxRatio = 200;                       // inflated size per compressed byte
    int MaxEntries = 100000;
};

// A zip package kept as parts of bytes. Parts are read from the source file only when asked
// for; a part never written keeps its compressed bytes, which SaveAs copies as they are.
class TznPackage
{
public:
    TznPackage();
    ~TznPackage();
    TznPackage(const TznPackage&) = delete;
    TznPackage& operator=(const TznPackage&) = delete;

    // Opens the zip file at path; raises EznError naming the file when it is no ordinary file,
    // no readable zip, larger than the limit, or when its entries would inflate beyond the limits.
    // Never reads more of the file than its size at opening.
    static std::unique_ptr<TznPackage> Open(const QString& path, const TznPackageLimits& limits = {});

    // The path the package was opened from; empty for a new package.
    const QString& SourcePath() const { return FSourcePath; }
    bool Has(const TznPartName& part) const;
    // The part's current bytes; raises EznError when it is missing, damaged or too large (an XML
    // part over MaxXmlSize before anything of it is inflated).
    QByteArray Read(const TznPartName& part) const;
    // Replaces a part or adds a new one at the end.
    void Write(const TznPartName& part, const QByteArray& bytes);
    void Remove(const TznPartName& part);
    // Removes every part in parts, in one pass over the package.
    void Remove(const QList<TznPartName>& parts);
    // Every part in package order.
    QList<TznPartName> Parts() const;
    // True when the part was written since the package was opened.
    bool IsChanged(const TznPartName& part) const;
    // True when the part is an entry of the source zip stored without compression.
    bool IsStored(const TznPartName& part) const;
    // The part's size: what its source entry declares, or its written bytes; -1 when it is missing.
    qint64 SizeOf(const TznPartName& part) const;

    // Writes the package to a temporary file in the target's folder and renames it into place,
    // so a failed save leaves neither a half-written target nor a stray file. Every part
    // copied from the source is checked first: a damaged one raises EznError naming it, and
    // nothing is written. With deflateStrongly, every part is deflated at a strong level where
    // that makes its entry smaller, and copied as it was otherwise.
    void SaveAs(const QString& path, bool deflateStrongly = false) const;

private:
    struct TznEntry
    {
        TznPartName Name;
        qint64 Index = -1;   // index in the source zip; -1 for a part written here
        qint64 Size = 0;     // declared inflated size
        int Method = 8;      // compression method in the source zip
        bool Changed = false;
        QByteArray Bytes;    // the written bytes when Changed
        mutable bool Checked = false; // read whole once, sizes and checksum found sound
    };
    int IndexOf(const TznPartName& part) const;
    // Inflates the source entry, keeping its bytes in bytes when given; raises EznError
    // naming the part when the zip library finds it damaged (a checksum that does not
    // match) or its size is not what the directory declares.
    void ReadEntry(const TznEntry& entry, QByteArray* bytes) const;
    [[noreturn]] void Fail(const QString& reason) const;

    QString FSourcePath;
    // The source file's bytes when it was small enough to read at once; the
    // zip then reads from memory instead of seeking through the file.
    QByteArray FSourceBytes;
    zip* FZip = nullptr;
    TznPackageLimits FLimits;
    QList<TznEntry> FEntries;
    QHash<QString, int> FByKey;
};
