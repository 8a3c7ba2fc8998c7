#include "package/znPackage.h"

#include "package/znDeflate.h"

#include "platform/znError.h"
#include "platform/znLocalPath.h"
#include "platform/znReplaceFile.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <zip.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

namespace {

QString fileLabel(const QString& path) { return QDir::toNativeSeparators(path); }

QString sizeText(qint64 bytes) { return QStringLiteral("%1 MB").arg(bytes / (1024 * 1024)); }

struct TznZipFile
{
    zip_file_t* File = nullptr;
    ~TznZipFile() { if (File) zip_fclose(File); }
};

// A zip source of bytes deflated here: its stat says they are deflated already, with their
// inflated size and checksum, so that the zip library writes them as they are.
struct TznDeflatedSource
{
    TznDeflated Deflated;
    qint64 Offset = 0;
    zip_error_t Error;
};

zip_int64_t deflatedSource(void* state, void* data, zip_uint64_t length, zip_source_cmd_t command)
{
    auto* source = static_cast<TznDeflatedSource*>(state);
    switch (command) {
    case ZIP_SOURCE_OPEN:
        source->Offset = 0;
        return 0;
    case ZIP_SOURCE_READ: {
        const qint64 n = std::min<qint64>(qint64(length), source->Deflated.Data.size() - source->Offset);
        std::memcpy(data, source->Deflated.Data.constData() + source->Offset, size_t(n));
        source->Offset += n;
        return n;
    }
    case ZIP_SOURCE_CLOSE:
        return 0;
    case ZIP_SOURCE_STAT: {
        if (length < sizeof(zip_stat_t))
            return -1;
        auto* st = static_cast<zip_stat_t*>(data);
        zip_stat_init(st);
        st->valid = ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_CRC | ZIP_STAT_COMP_METHOD | ZIP_STAT_ENCRYPTION_METHOD;
        st->size = zip_uint64_t(source->Deflated.Size);
        st->comp_size = zip_uint64_t(source->Deflated.Data.size());
        st->crc = source->Deflated.Crc;
        st->comp_method = ZIP_CM_DEFLATE;
        st->encryption_method = ZIP_EM_NONE;
        return sizeof(zip_stat_t);
    }
    case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&source->Error, data, length);
    case ZIP_SOURCE_FREE:
        zip_error_fini(&source->Error);
        delete source;
        return 0;
    case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                              ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, -1);
    default:
        zip_error_set(&source->Error, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
}

zip_source_t* deflatedSourceOf(zip_t* out, TznDeflated deflated)
{
    auto* state = new TznDeflatedSource{std::move(deflated), 0, {}};
    zip_error_init(&state->Error);
    zip_source_t* source = zip_source_function(out, deflatedSource, state);
    if (!source) {
        zip_error_fini(&state->Error);
        delete state;
    }
    return source;
}

} // namespace

TznPackage::TznPackage() = default;

TznPackage::~TznPackage()
{
    if (FZip)
        zip_discard(FZip);
}

void TznPackage::Fail(const QString& reason) const
{
    throw EznError(QStringLiteral("Cannot open \"%1\": %2").arg(fileLabel(FSourcePath), reason));
}

std::unique_ptr<TznPackage> TznPackage::Open(const QString& path, const TznPackageLimits& limits)
{
    auto package = std::make_unique<TznPackage>();
    package->FSourcePath = path;
    package->FLimits = limits;
    int error = 0;
    // Documents are read in many small pieces; a document of ordinary size
    // is read whole once and its zip served from memory.
    constexpr qint64 maxInMemory = 64 * 1024 * 1024;
    // Devices, pipes and sockets have no size to bound a read by, and a pipe
    // would not even open until someone writes to it.
    const TznLocalFileInfo info = LocalFileInfo(path);
    if (info.Exists && !info.IsFile)
        package->Fail(QStringLiteral("it is no ordinary file."));
    QFile file;
    if (!OpenLocalFile(file, path))
        package->Fail(QStringLiteral("the file cannot be found or read."));
    const qint64 reported = file.size();
    if (reported > limits.MaxFileSize)
        package->Fail(QStringLiteral("the file is larger than %1 and is refused.").arg(sizeText(limits.MaxFileSize)));
    if (reported <= maxInMemory) {
        // Files of the kernel report no size and never end: read one byte
        // more than the size reported, and nothing beyond.
        package->FSourceBytes = file.read(reported + 1);
        file.close();
        if (package->FSourceBytes.size() > reported)
            package->Fail(QStringLiteral("the file holds more than its size says (it is no ordinary file, or it "
                                         "grows while it is read)."));
        zip_error_t zerr;
        zip_error_init(&zerr);
        zip_source_t* source = zip_source_buffer_create(package->FSourceBytes.constData(),
                                                        zip_uint64_t(package->FSourceBytes.size()), 0, &zerr);
        if (source) {
            package->FZip = zip_open_from_source(source, ZIP_RDONLY, &zerr);
            if (!package->FZip)
                zip_source_free(source);
        }
        zip_error_fini(&zerr);
        if (!package->FZip)
            package->Fail(QStringLiteral("the file is damaged or is no document package."));
    } else {
        file.close();
        package->FZip = zip_open(EncodeLocalPath(path).constData(), ZIP_RDONLY, &error);
    }
    if (!package->FZip) {
        if (error == ZIP_ER_NOENT || error == ZIP_ER_OPEN)
            package->Fail(QStringLiteral("the file cannot be found or read."));
        package->Fail(QStringLiteral("the file is damaged or is no document package."));
    }
    const zip_int64_t count = zip_get_num_entries(package->FZip, 0);
    if (count > limits.MaxEntries)
        package->Fail(QStringLiteral("the package holds %1 entries, more than can be safe, and is refused.").arg(count));
    qint64 total = 0;
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat_index(package->FZip, zip_uint64_t(i), 0, &st) != 0 || !(st.valid & ZIP_STAT_NAME))
            package->Fail(QStringLiteral("the file is damaged or is no document package."));
        const QString name = QString::fromUtf8(st.name);
        if (name.endsWith(QLatin1Char('/')))
            continue; // folder entries carry no part
        const qint64 size = (st.valid & ZIP_STAT_SIZE) ? qint64(st.size) : 0;
        const qint64 comp = (st.valid & ZIP_STAT_COMP_SIZE) ? qint64(st.comp_size) : 0;
        total += size;
        if (size > limits.MaxEntrySize || total > limits.MaxTotalSize
            || (size >= limits.RatioFloor && size > comp * limits.MaxRatio))
            package->Fail(QStringLiteral("the entry %1 would inflate to %2 (a zip bomb?) and the package is refused.")
                              .arg(name, sizeText(size)));
        TznEntry entry;
        entry.Name = TznPartName(name);
        entry.Index = i;
        entry.Size = size;
        entry.Method = (st.valid & ZIP_STAT_COMP_METHOD) ? int(st.comp_method) : ZIP_CM_DEFLATE;
        if (entry.Name.IsEmpty())
            continue;
        // Two entries of one name would make the package mean different things to different
        // readers; such a package is damaged.
        if (package->FByKey.contains(entry.Name.Key()))
            package->Fail(QStringLiteral("the package holds the part %1 twice and is damaged.").arg(entry.Name.Name()));
        package->FByKey.insert(entry.Name.Key(), int(package->FEntries.size()));
        package->FEntries.append(entry);
    }
    return package;
}

int TznPackage::IndexOf(const TznPartName& part) const
{
    return FByKey.value(part.Key(), -1);
}

bool TznPackage::Has(const TznPartName& part) const
{
    return IndexOf(part) >= 0;
}

QByteArray TznPackage::Read(const TznPartName& part) const
{
    const int at = IndexOf(part);
    if (at < 0)
        Fail(QStringLiteral("the part %1 is missing.").arg(part.Name()));
    const TznEntry& entry = FEntries[at];
    if (entry.Changed)
        return entry.Bytes;
    const QString name = part.Name();
    if (entry.Size > FLimits.MaxXmlSize
        && (name.endsWith(QLatin1String(".xml"), Qt::CaseInsensitive)
            || name.endsWith(QLatin1String(".rels"), Qt::CaseInsensitive)))
        Fail(QStringLiteral("the part %1 holds %2 of XML, more than the %3 a part may have.")
                 .arg(name, sizeText(entry.Size), sizeText(FLimits.MaxXmlSize)));
    QByteArray bytes;
    ReadEntry(entry, &bytes);
    return bytes;
}

void TznPackage::ReadEntry(const TznEntry& entry, QByteArray* bytes) const
{
    const QString name = entry.Name.Name();
    TznZipFile file;
    file.File = zip_fopen_index(FZip, zip_uint64_t(entry.Index), 0);
    if (!file.File)
        Fail(QStringLiteral("the part %1 cannot be read (%2).").arg(name, QString::fromUtf8(zip_strerror(FZip))));
    // The declared size may lie: never read more than it, and treat more data as damage.
    // The buffer grows with the data that really arrives, not with what the directory claims;
    // a check alone reads through one chunk.
    constexpr qint64 kChunk = qint64(1) << 20;
    QByteArray scratch;
    QByteArray& out = bytes ? *bytes : scratch;
    qint64 got = 0;
    while (got < entry.Size) {
        const qint64 want = std::min(kChunk, entry.Size - got);
        const qint64 at = bytes ? got : 0;
        out.resize(qsizetype(at + want));
        const zip_int64_t n = zip_fread(file.File, out.data() + at, zip_uint64_t(want));
        if (n < 0)
            Fail(QStringLiteral("the part %1 is damaged (%2).").arg(name, QString::fromUtf8(zip_file_strerror(file.File))));
        got += n;
        if (n == 0)
            break;
    }
    if (bytes)
        bytes->resize(qsizetype(got));
    char extra = 0;
    const zip_int64_t more = got < entry.Size ? 0 : zip_fread(file.File, &extra, 1);
    if (more < 0)
        Fail(QStringLiteral("the part %1 is damaged (%2).").arg(name, QString::fromUtf8(zip_file_strerror(file.File))));
    if (got < entry.Size || more != 0)
        Fail(QStringLiteral("the part %1 is damaged: its size does not match the package's directory.").arg(name));
    entry.Checked = true;
}

void TznPackage::Write(const TznPartName& part, const QByteArray& bytes)
{
    int at = IndexOf(part);
    if (at < 0) {
        TznEntry entry;
        entry.Name = part;
        at = int(FEntries.size());
        FEntries.append(entry);
        FByKey.insert(part.Key(), at);
    }
    TznEntry& entry = FEntries[at];
    entry.Changed = true;
    entry.Bytes = bytes;
    entry.Size = bytes.size();
}

void TznPackage::Remove(const TznPartName& part) { Remove(QList<TznPartName>{part}); }

void TznPackage::Remove(const QList<TznPartName>& parts)
{
    QSet<QString> keys;
    for (const TznPartName& part : parts)
        if (IndexOf(part) >= 0)
            keys.insert(part.Key());
    if (keys.isEmpty())
        return;
    FEntries.removeIf([&](const TznEntry& entry) { return keys.contains(entry.Name.Key()); });
    FByKey.clear();
    for (int i = 0; i < FEntries.size(); ++i)
        FByKey.insert(FEntries[i].Name.Key(), i);
}

QList<TznPartName> TznPackage::Parts() const
{
    QList<TznPartName> parts;
    parts.reserve(FEntries.size());
    for (const TznEntry& entry : FEntries)
        parts.append(entry.Name);
    return parts;
}

bool TznPackage::IsChanged(const TznPartName& part) const
{
    const int at = IndexOf(part);
    return at >= 0 && FEntries[at].Changed;
}

bool TznPackage::IsStored(const TznPartName& part) const
{
    const int at = IndexOf(part);
    return at >= 0 && !FEntries[at].Changed && FEntries[at].Method == ZIP_CM_STORE;
}

qint64 TznPackage::SizeOf(const TznPartName& part) const
{
    const int at = IndexOf(part);
    if (at < 0)
        return -1;
    return FEntries[at].Changed ? FEntries[at].Bytes.size() : FEntries[at].Size;
}

void TznPackage::SaveAs(const QString& path, bool deflateStrongly) const
{
    const QString target = QFileInfo(path).absoluteFilePath();
    auto failSave = [&](const QString& reason) {
        throw EznError(QStringLiteral("Cannot save \"%1\": %2").arg(fileLabel(path), reason));
    };
    // Copied entries keep their compressed bytes, so the zip library would
    // never look at them: a damaged one would pass into the result unseen.
    // Deflating strongly reads them anyway, and deflates what is smaller so.
    std::vector<std::optional<TznDeflated>> deflated(size_t(FEntries.size()));
    for (qsizetype i = 0; i < FEntries.size(); ++i) {
        const TznEntry& entry = FEntries[i];
        if (!deflateStrongly) {
            if (!entry.Changed && !entry.Checked)
                ReadEntry(entry, nullptr);
            continue;
        }
        if (entry.Changed) {
            deflated[size_t(i)] = DeflateIfSmaller(entry.Bytes, entry.Bytes.size());
            continue;
        }
        zip_stat_t st;
        zip_stat_init(&st);
        const bool known = zip_stat_index(FZip, zip_uint64_t(entry.Index), 0, &st) == 0 && (st.valid & ZIP_STAT_COMP_SIZE);
        QByteArray bytes;
        ReadEntry(entry, &bytes);
        if (known)
            deflated[size_t(i)] = DeflateIfSmaller(bytes, qint64(st.comp_size));
    }
    QString reserveError;
    const QString tempPath = ReserveLocalFileName(QFileInfo(target).absolutePath(), WorkFilePrefix(),
                                                  QStringLiteral(".tmp"), &reserveError);
    if (tempPath.isEmpty())
        failSave(QStringLiteral("the folder cannot be written (%1).").arg(reserveError));
    // The name is ours now; the zip library creates the file itself so that
    // it gets the permissions of a new file, not those of a private temporary.
    RemoveLocalFile(tempPath);
    auto removeTemp = [&] { RemoveLocalFile(tempPath); };

    int error = 0;
    zip_t* out = zip_open(EncodeLocalPath(tempPath).constData(), ZIP_CREATE | ZIP_EXCL, &error);
    if (!out) {
        removeTemp();
        zip_error_t zerr;
        zip_error_init_with_code(&zerr, error);
        const QString reason = QString::fromUtf8(zip_error_strerror(&zerr));
        zip_error_fini(&zerr);
        failSave(QStringLiteral("the file cannot be created (%1).").arg(reason));
    }
    for (qsizetype i = 0; i < FEntries.size(); ++i) {
        const TznEntry& entry = FEntries[i];
        std::optional<TznDeflated>& strong = deflated[size_t(i)];
        zip_source_t* source = strong ? deflatedSourceOf(out, std::move(*strong))
            : entry.Changed ? zip_source_buffer(out, entry.Bytes.constData(), zip_uint64_t(entry.Bytes.size()), 0)
                            : zip_source_zip(out, FZip, zip_uint64_t(entry.Index), ZIP_FL_COMPRESSED, 0, -1);
        zip_int64_t index = source ? zip_file_add(out, entry.Name.EntryName().toUtf8().constData(), source, ZIP_FL_ENC_UTF_8) : -1;
        if (index < 0) {
            const QString reason = QString::fromUtf8(zip_strerror(out));
            if (source)
                zip_source_free(source);
            zip_discard(out);
            removeTemp();
            failSave(reason);
        }
        // A copied entry keeps its method, or libzip would deflate a stored entry's bytes again;
        // one deflated here is written as it is.
        if (strong)
            continue;
        if (entry.Changed)
            zip_set_file_compression(out, zip_uint64_t(index), ZIP_CM_DEFLATE, 6);
        else
            zip_set_file_compression(out, zip_uint64_t(index), zip_int32_t(entry.Method), 0);
    }
    if (zip_close(out) != 0) {
        const QString reason = QString::fromUtf8(zip_strerror(out));
        zip_discard(out);
        removeTemp();
        failSave(reason);
    }
    // A document saved over an older one keeps that file's permissions.
    QString reason;
    if (!ReplaceFileAtomically(tempPath, target, &reason)) {
        removeTemp();
        failSave(reason + QLatin1Char('.'));
    }
}
