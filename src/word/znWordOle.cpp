#include "word/znWordOle.h"

#include "automation/znOle.h"
#include "info/znInfo.h"
#include "platform/znError.h"
#include "platform/znLocalPath.h"
#include "project/znProject.h"

#include <QFileInfo>

namespace {

bool isWebAddress(const QString& name)
{
    return name.startsWith(QStringLiteral("http://"), Qt::CaseInsensitive)
           || name.startsWith(QStringLiteral("https://"), Qt::CaseInsensitive);
}

} // namespace

TznWordOle::TznWordOle(TznBatch* batch, int count, const TznNodeEvent& onFileDone)
    : TznConvertor(batch, count, onFileDone)
{
}

TznWordOle::~TznWordOle()
{
    QuitApplication();
}

void TznWordOle::StartApplication()
{
    try {
        FApp = CreateAutomationObject(QStringLiteral("Word.Application"));
    } catch (...) {
        FApp = CreateAutomationObject(QStringLiteral("WPS.Application"));
    }
    try {
        FVersion = MajorVersion(OleGet(FApp, QStringLiteral("Version")));
        if (Info)
            Info->Tally(QStringLiteral("W"), FVersion, 1);
    } catch (...) {
    }
    if (TextToBool(Project->GetOption(QStringLiteral("AppVisible")), false)) {
        OlePut(FApp, QStringLiteral("Visible"), TznVariant(true));
        OlePut(FApp, QStringLiteral("WindowState"), TznVariant(2));
    }
    try {
        OlePut(FApp, QStringLiteral("DisplayAlerts"), TznVariant(0));
    } catch (...) {
    }
}

void TznWordOle::QuitApplication()
{
    try {
        if (!FApp.IsEmpty())
            OleCall(FApp, QStringLiteral("Quit"), {TznVariant(false)});
    } catch (...) {
    }
    FApp = TznVariant();
}

void TznWordOle::OpenDocument(const QString& fileName)
{
    if (FApp.IsEmpty())
        StartApplication();
    if (!FDoc.IsEmpty())
        return;
    const TznVariant documents = OleGet(FApp, QStringLiteral("Documents"));
    // The word processor opens a web address itself.
    const bool openable = LocalFileInfo(fileName).Exists || isWebAddress(fileName);
    if (openable && SkipPasswordOption()) {
        FDoc = OleCall(documents, QStringLiteral("Open"),
                       {TznVariant(fileName), TznVariant::Omitted(), TznVariant(ReadOnlyOption()),
                        TznVariant::Omitted(), TznVariant(DocumentPassword)});
    } else if (openable) {
        FDoc = OleCall(documents, QStringLiteral("Open"),
                       {TznVariant(fileName), TznVariant::Omitted(), TznVariant(ReadOnlyOption())});
    } else {
        // Named as the template, so that a file that vanished fails as a
        // missing template instead of becoming an empty document.
        FDoc = OleCall(documents, QStringLiteral("Add"), {TznVariant(fileName)});
    }
    // Application-wide settings, so they are set after every open; a
    // server that lacks them simply keeps its own.
    try {
        const TznVariant options = OleGet(FApp, QStringLiteral("Options"));
        OlePut(options, QStringLiteral("UpdateFieldsAtPrint"), TznVariant(false));
        OlePut(options, QStringLiteral("UpdateLinksAtPrint"), TznVariant(false));
    } catch (...) {
    }
}

void TznWordOle::CloseDocument()
{
    try {
        if (!FDoc.IsEmpty())
            OleCall(FDoc, QStringLiteral("Close"), {TznVariant(false)});
    } catch (...) {
    }
    FDoc = TznVariant();
}

bool TznWordOle::ReadOnlyOption() const
{
    return TextToBool(Project->GetOption(QStringLiteral("ReadOnly")), false);
}

bool TznWordOle::SkipPasswordOption() const
{
    return TextToBool(Project->GetOption(QStringLiteral("SkipPassword")), false);
}

QString TznWordOle::AppPath()
{
    return OleGet(FApp, QStringLiteral("Path")).ToText() + QStringLiteral("\\WINWORD.EXE");
}

bool TznWordOle::HasMacros()
{
    if (FVersion < 12)
        return TznConvertor::HasMacros();
    try {
        return OleGet(FDoc, QStringLiteral("HasVBProject")).ToBool();
    } catch (...) {
        return TznConvertor::HasMacros();
    }
}
