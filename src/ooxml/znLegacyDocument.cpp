#include "ooxml/znLegacyDocument.h"

#include "lodoc/znLegacyOffice.h"
#include "package/znCompoundFile.h"
#include "ooxml/znWordDocument.h"
#include "platform/znError.h"
#include "platform/znLocalPath.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtEndian>

namespace {

QString label(const QString& path) { return QDir::toNativeSeparators(path); }

[[noreturn]] void failOpen(const QString& path, const QString& reason)
{
    throw EznError(QStringLiteral("Cannot open \"%1\": %2").arg(label(path), reason));
}

std::unique_ptr<QTemporaryDir> newScratch()
{
    // In the run's own scratch folder, which a later run removes when this
    // one was killed.
    const QString scratch = ScratchFolder();
    auto dir = std::make_unique<QTemporaryDir>((scratch.isEmpty() ? QDir::tempPath() + QStringLiteral("/leafpress-") : scratch + u'/')
                                               + QStringLiteral("doc-XXXXXX"));
    if (!dir->isValid())
        throw EznError(QStringLiteral("No temporary folder can be made (%1).").arg(dir->errorString()));
    return dir;
}

// The messages that name a private temporary file name the user's file instead.
EznError renamed(const EznError& e, const QString& privatePath, const QString& userPath)
{
    QString message = e.Message();
    message.replace(label(privatePath), label(userPath));
    return EznError(message);
}

} // namespace

TznLegacyBridge::TznLegacyBridge() = default;
TznLegacyBridge::~TznLegacyBridge() = default;

TznLegacyOffice& TznLegacyBridge::Office()
{
    // The thread's instance: the converter that drives this server on the same thread
    // renders its results in it too, so that a worker runs one office, not two.
    FOffice = &TznLegacyOffice::OfThisThread();
    return *FOffice;
}

void TznLegacyBridge::Quit()
{
    if (FOffice)
        FOffice->Quit();
}

bool IsLegacyWordDocument(const QString& path)
{
    QFile file;
    if (!OpenLocalFile(file, path))
        return false;
    const QByteArray head = file.read(8);
    if (IsSingleStreamWordDocument(head))
        return true;
    if (!IsCompoundFileSignature(head))
        return false;
    const auto names = CompoundFileEntryNames(path);
    // An encrypted OOXML package is a compound file too; the package reader reports it.
    return names && names->contains(QStringLiteral("WordDocument"), Qt::CaseInsensitive)
           && !names->contains(QStringLiteral("EncryptedPackage"), Qt::CaseInsensitive);
}

std::unique_ptr<TznWordDocument> OpenLegacyDocument(const QString& path, TznLegacyBridge& bridge,
                                                    std::unique_ptr<QTemporaryDir>& scratch)
{
    // The file information block opens the WordDocument stream: its identifier, then at
    // offset 10 the flags whose bit 8 marks an encrypted (or obfuscated) document.
    // A document of Word for Windows 1.x or 2.x is that stream alone, with the same flag.
    std::optional<QByteArray> fib;
    QFile file;
    if (const QByteArray head = OpenLocalFile(file, path) ? file.read(12) : QByteArray(); IsSingleStreamWordDocument(head))
        fib = head;
    else
        fib = CompoundFileStreamHead(path, QStringLiteral("WordDocument"), 12);
    file.close();
    if (!fib || fib->size() < 12)
        failOpen(path, QStringLiteral("the file is damaged or is no document package."));
    const quint16 ident = qFromLittleEndian<quint16>(fib->constData());
    const quint16 flags = qFromLittleEndian<quint16>(fib->constData() + 10);
    if (ident != 0xA5EC && ident != 0xA5DC && ident != 0xA5DB && ident != 0xA59B)
        failOpen(path, QStringLiteral("the file is damaged or is no document package."));
    if (flags & 0x0100)
        failOpen(path, QStringLiteral("the document is encrypted with a password."));

    scratch = newScratch();
    const QString converted = scratch->filePath(QStringLiteral("document.docx"));
    // What the office's runtime raises stays in its module, which reports it as an error.
    bridge.Office().Convert(path, converted, TznOfficeFormat::Docx, path);
    try {
        return TznWordDocument::Open(converted);
    } catch (const EznError& e) {
        throw renamed(e, converted, path);
    }
}

void SaveLegacyDocument(TznWordDocument& model, const QString& target, TznLegacyBridge& bridge)
{
    const std::unique_ptr<QTemporaryDir> scratch = newScratch();
    const QString package = scratch->filePath(QStringLiteral("document.docx"));
    try {
        model.SaveAs(package);
    } catch (const EznError& e) {
        throw renamed(e, package, target);
    }
    bridge.Office().Convert(package, target, TznOfficeFormat::Doc, target);
}
