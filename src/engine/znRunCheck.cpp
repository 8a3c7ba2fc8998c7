#include "engine/znRunCheck.h"

#include "engine/VBScriptRegex.h"
#include "engine/znBatch.h"
#include "platform/znDirSearch.h"
#include "platform/znError.h"
#include "platform/znLocalPath.h"
#include "platform/znPath.h"
#include "project/znProject.h"

#include <QDir>
#include <QFileInfo>

namespace {

// A path as one text for comparison: absolute, without "." and "..".
QString cleanAbsolute(const QString& path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

Qt::CaseSensitivity pathCase()
{
    return NativePathStyle() == PathStyle::Windows ? Qt::CaseInsensitive : Qt::CaseSensitive;
}

// True when file lies in folder, or below it when deep.
bool liesIn(const QString& file, const QString& folder, bool deep)
{
    const QString dir = cleanAbsolute(FolderPart(file));
    const QString base = cleanAbsolute(folder.isEmpty() ? QStringLiteral(".") : folder);
    if (dir.compare(base, pathCase()) == 0)
        return true;
    return deep && dir.startsWith(IncludeTrailingDelimiter(base, PathStyle::Posix), pathCase());
}

bool matchesRegExt(const QString& path, const QString& regExt)
{
    if (regExt.isEmpty())
        return true;
    try {
        return Regex::IsMatch(regExt, roIgnoreCase, path);
    } catch (const EznError&) {
        return true;
    }
}

} // namespace

QString RegExtError(const QString& regExt)
{
    if (regExt.isEmpty())
        return {};
    try {
        Regex::Compile(regExt, roIgnoreCase)->IsMatch(QString());
    } catch (const EznError& e) {
        return QStringLiteral("the RegExt expression \"%1\" is not valid: %2").arg(regExt, e.Message());
    }
    return {};
}

QString SourceError(const QString& source)
{
    if (source.isEmpty())
        return QStringLiteral("no source: set Source in the project or on the command line (-pSource=FOLDER/*.doc?)");
    if (IsWebSource(source))
        return {};
    const QString path = NormalizePath(source);
    // Names are asked for by their bytes: one that is not valid UTF-8
    // exists as much as any other.
    const QString folder = FolderPart(path);
    if (!LocalFileInfo(folder.isEmpty() ? QStringLiteral(".") : folder).IsDir)
        return QStringLiteral("the source folder \"%1\" does not exist").arg(ReadableLocalPath(folder));
    const QString name = FileNamePart(path);
    if (!name.contains(u'*') && !name.contains(u'?') && !LocalFileInfo(path).Exists)
        return QStringLiteral("the source \"%1\" does not exist").arg(ReadableLocalPath(path));
    return {};
}

QString LogFileError(const QString& logFile, const QString& source, const QString& targetFolder, bool subdirs,
                     const QString& regExt, const QString& productCode)
{
    if (logFile.isEmpty())
        return {};
    static const QStringList documentSuffixes = {QStringLiteral("doc"), QStringLiteral("docx"),
                                                 QStringLiteral("docm"), QStringLiteral("dotx"),
                                                 QStringLiteral("dotm")};
    const QString name = FileNamePart(logFile);
    if (documentSuffixes.contains(QFileInfo(name).suffix(), Qt::CaseInsensitive))
        return QStringLiteral("the log file \"%1\" would be written over a document").arg(logFile);

    if (!source.isEmpty() && !IsWebSource(source)) {
        const QString path = NormalizePath(source);
        const QString mask = FileNamePart(path);
        const QString ownPrefix = u'-' + productCode + u'-';
        if (liesIn(logFile, FolderPart(path), subdirs) && MatchesWildcard(name, mask)
            && matchesRegExt(cleanAbsolute(logFile), regExt))
            return QStringLiteral("the log file \"%1\" is a source of the run").arg(logFile);
        const QString unprefixed = !productCode.isEmpty() && name.startsWith(ownPrefix) ? name.mid(ownPrefix.size()) : name;
        if (!targetFolder.isEmpty() && liesIn(logFile, targetFolder, true) && MatchesWildcard(unprefixed, mask))
            return QStringLiteral("the log file \"%1\" is a target of the run").arg(logFile);
    }
    return {};
}

QString WebTargetError(const QString& source, const QString& target)
{
    if (!IsWebSource(source) || (!target.isEmpty() && !IsWebSource(target)))
        return {};
    return QStringLiteral("a web source has no local folder: set Target to the folder its document goes to "
                          "(-pTarget=FOLDER)");
}

QString RunRefusal(const TznProject& project, const QStringList& sources)
{
    const QStringList all = sources.isEmpty() ? QStringList{project.Source()} : sources;
    for (const QString& source : all)
        if (QString reason = SourceError(source); !reason.isEmpty())
            return reason;
    for (const QString& source : all)
        if (QString reason = WebTargetError(source, project.Target()); !reason.isEmpty())
            return reason;
    if (QString reason = RegExtError(project.RegExt()); !reason.isEmpty())
        return reason;
    for (const QString& source : all)
        if (QString reason = LogFileError(project.LogFile(), source, project.Target(), project.Subdir(),
                                          project.RegExt(), project.ProductCode);
            !reason.isEmpty())
            return reason;
    return {};
}
