#include "app/znCommandLine.h"

#include "engine/znShard.h"
#include "platform/znLocalPath.h"
#include "platform/znPath.h"

#include <QCommandLineParser>
#include <QDir>

#include <algorithm>

namespace {

QString absolutePath(const QString& path)
{
    return QDir::cleanPath(QDir::current().absoluteFilePath(path));
}

// An integer from min to max written in decimal, or an error for name.
bool readNumber(const QCommandLineParser& parser, const QString& name, int min, int max, int& value, QString& error)
{
    bool ok = false;
    const QString text = parser.value(name);
    value = text.toInt(&ok, 10);
    if (ok && value >= min && value <= max)
        return true;
    error = QStringLiteral("invalid value '%1' for --%2: expected a number from %3 to %4")
                .arg(text, name).arg(min).arg(max);
    return false;
}

struct TznOptionSpec
{
    QStringList names;
    const char* valueName; // nullptr for a switch
    const char* description;
};

const TznOptionSpec kOptions[] = {
    {{"o", "target"}, "DIR", "folder the results go to (required unless --in-place or --dry-run)"},
    {{"r", "recursive"}, nullptr, "take the documents of sub-folders too (Subdir)"},
    {{"j", "threads"}, "N", "number of worker threads (default: the number of cores)"},
    {{"in-place"}, nullptr, "replace each document by its compacted self"},
    {{"overwrite"}, "skip|yes|no", "an existing target: skip it, overwrite it, or save under another name (default: no)"},
    {{"keep-time"}, nullptr, "give each result the source's file times (KeepFileTime)"},
    {{"resolution"}, "PPI", "picture resolution in pixels per inch"},
    {{"quality"}, "Q", "JPEG quality, 1 to 100"},
    {{"type"}, "N", "data-type code used when pictures are pasted back"},
    {{"no-recompress"}, nullptr, "only re-insert the main text's pictures shown below their size; "
                                 "no other pass, no lossless re-coding on save (Recompress=False)"},
    {{"log"}, "FILE", "write the result lines to FILE (LogFile)"},
    {{"project"}, "FILE", "run the project FILE unattended; other options replace its own"},
    {{"dry-run"}, nullptr, "compact into a temporary folder and report what would be saved; "
                           "write no target, touch no source (DryRun)"},
    {{"shard"}, "I/N", "take only the documents whose relative path hashes to shard I of N, "
                       "0 <= I < N (Shard)"},
    {{"json"}, nullptr, "one JSON object per document on standard output, then a summary object"},
    {{"q", "quiet"}, nullptr, "show nothing but the result lines and the summary (no progress line)"},
    {{"h", "help"}, nullptr, "show the help text"},
    {{"V", "version"}, nullptr, "show the version"},
};

void addOptions(QCommandLineParser& parser)
{
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    for (const TznOptionSpec& spec : kOptions) {
        if (spec.valueName)
            parser.addOption(QCommandLineOption(spec.names, QString::fromUtf8(spec.description),
                                                QString::fromUtf8(spec.valueName)));
        else
            parser.addOption(QCommandLineOption(spec.names, QString::fromUtf8(spec.description)));
    }
    parser.addPositionalArgument(QStringLiteral("SOURCE"), QStringLiteral("a document, a folder or a mask"),
                                 QStringLiteral("SOURCE..."));
}

// A parameter that reads as an option: "-" and at least one more character.
bool isOption(const QString& param)
{
    return param.size() >= 2 && param[0] == u'-';
}

} // namespace

bool IsConventionalCommandLine(const QStringList& params)
{
    if (params.isEmpty())
        return false;
    const QString& first = params.first();
    if (first.startsWith(QStringLiteral("--")))
        return params.size() > 1 || (first != QStringLiteral("--help") && first != QStringLiteral("--version"));
    // The first-parameter form has the switches -p, -i and -u (either
    // case); any other option, also one after a first source, belongs to
    // this form, which reads it or says why it cannot.
    if (isOption(first))
        return !QStringLiteral("pPiIuU").contains(first[1]);
    return std::any_of(params.cbegin() + 1, params.cend(), isOption);
}

TznCommandLine ParseConventionalCommandLine(const QStringList& params, const QString& fileMask, int cores)
{
    TznCommandLine result;
    if (!params.isEmpty() && !isOption(params.first())) {
        const auto option = std::find_if(params.cbegin(), params.cend(), isOption);
        if (option != params.cend()) {
            result.Error = QStringLiteral("'%1' after the source '%2': options go before the first SOURCE")
                               .arg(*option, params.first());
            return result;
        }
    }
    QCommandLineParser parser;
    addOptions(parser);
    if (!parser.parse(QStringList{QStringLiteral("leafpress")} + params)) {
        result.Error = parser.errorText();
        return result;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        result.Help = true;
        return result;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        result.Version = true;
        return result;
    }

    QString& error = result.Error;
    QStringList& lines = result.OptionLines;
    // A value is one option line: a line break would smuggle in another key.
    for (const QString& name : parser.optionNames())
        for (const QString& value : parser.values(name))
            if (value.contains(u'\r') || value.contains(u'\n')) {
                error = QStringLiteral("invalid value for -%1%2: it holds a line break")
                            .arg(name.size() > 1 ? QStringLiteral("-") : QString(), name);
                return result;
            }

    const bool inPlace = parser.isSet(QStringLiteral("in-place"));
    const bool dryRun = parser.isSet(QStringLiteral("dry-run"));
    result.Json = parser.isSet(QStringLiteral("json"));
    result.Quiet = parser.isSet(QStringLiteral("quiet"));
    const QStringList sources = parser.positionalArguments();
    if (parser.isSet(QStringLiteral("project")))
        result.ProjectFile = absolutePath(parser.value(QStringLiteral("project")));
    if (sources.isEmpty() && result.ProjectFile.isEmpty()) {
        error = QStringLiteral("no SOURCE given");
        return result;
    }
    if (inPlace && parser.isSet(QStringLiteral("target"))) {
        error = QStringLiteral("--target and --in-place exclude each other");
        return result;
    }
    if (!inPlace && !dryRun && !parser.isSet(QStringLiteral("target")) && result.ProjectFile.isEmpty()) {
        error = QStringLiteral("no target folder: give -o DIR, --in-place or --dry-run");
        return result;
    }

    // The sources: a folder is scanned for the product's mask, a mask or a
    // document as it stands. Several make one batch; the first also goes
    // into Source, where the checks of a run look for it.
    QStringList scanned;
    QStringList folders;
    for (const QString& given : sources) {
        if (given.startsWith(QStringLiteral("http"), Qt::CaseInsensitive)) {
            error = QStringLiteral("'%1': web addresses are taken only by -pSource=").arg(given);
            return result;
        }
        const QString path = absolutePath(given);
        if (LocalFileInfo(path).IsDir) {
            scanned << path + u'/' + fileMask;
            folders << path;
        } else {
            scanned << path;
            folders << QDir::cleanPath(FolderPart(path));
        }
    }
    if (scanned.size() > 1)
        result.Sources = scanned;
    if (!scanned.isEmpty())
        lines << QStringLiteral("Source=") + scanned.first();

    if (inPlace) {
        folders.removeDuplicates();
        if (folders.size() > 1) {
            error = QStringLiteral("--in-place takes sources of one folder only");
            return result;
        }
        if (parser.isSet(QStringLiteral("overwrite")) && parser.value(QStringLiteral("overwrite")) != QStringLiteral("yes")) {
            error = QStringLiteral("--in-place overwrites: --overwrite must be yes or absent");
            return result;
        }
        if (!folders.isEmpty())
            lines << QStringLiteral("Target=") + folders.first();
        lines << QStringLiteral("IsOverwrite=True");
    } else if (parser.isSet(QStringLiteral("target"))) {
        lines << QStringLiteral("Target=") + absolutePath(parser.value(QStringLiteral("target")));
    }
    if (parser.isSet(QStringLiteral("overwrite")) && !inPlace) {
        const QString value = parser.value(QStringLiteral("overwrite"));
        static const QStringList words{QStringLiteral("skip"), QStringLiteral("yes"), QStringLiteral("no")};
        static const QStringList keys{QStringLiteral("skip"), QStringLiteral("True"), QStringLiteral("False")};
        const qsizetype i = words.indexOf(value);
        if (i < 0) {
            error = QStringLiteral("invalid value '%1' for --overwrite: expected skip, yes or no").arg(value);
            return result;
        }
        lines << QStringLiteral("IsOverwrite=") + keys[i];
    }
    if (parser.isSet(QStringLiteral("recursive")))
        lines << QStringLiteral("Subdir=True");

    int number = 0;
    if (parser.isSet(QStringLiteral("threads"))) {
        if (!readNumber(parser, QStringLiteral("threads"), 1, 1024, number, error))
            return result;
        lines << QStringLiteral("ThreadsCount=%1").arg(number);
    } else if (result.ProjectFile.isEmpty()) {
        lines << QStringLiteral("ThreadsCount=%1").arg(qMax(cores, 1));
    }
    if (parser.isSet(QStringLiteral("keep-time")))
        lines << QStringLiteral("KeepFileTime=True");
    if (parser.isSet(QStringLiteral("no-recompress")))
        lines << QStringLiteral("Recompress=False");
    struct TznNumberOption
    {
        const char* name;
        const char* key;
        int min, max;
    };
    static const TznNumberOption numbers[] = {
        {"resolution", "Resolution", 1, 10000},
        {"quality", "Quality", 1, 100},
        {"type", "Type", 0, 65535},
    };
    for (const TznNumberOption& option : numbers) {
        const QString name = QString::fromUtf8(option.name);
        if (!parser.isSet(name))
            continue;
        if (!readNumber(parser, name, option.min, option.max, number, error))
            return result;
        lines << QStringLiteral("%1=%2").arg(QString::fromUtf8(option.key)).arg(number);
    }
    if (parser.isSet(QStringLiteral("shard"))) {
        TznShard shard;
        if (!ParseShard(parser.value(QStringLiteral("shard")), shard, error))
            return result;
        lines << QStringLiteral("Shard=") + parser.value(QStringLiteral("shard"));
    }
    if (dryRun)
        lines << QStringLiteral("DryRun=True");
    if (parser.isSet(QStringLiteral("log")))
        lines << QStringLiteral("LogFile=") + absolutePath(parser.value(QStringLiteral("log")));
    lines << QStringLiteral("PureConsole=True");
    return result;
}

QString ConventionalUsage()
{
    QCommandLineParser parser;
    addOptions(parser);
    QString text = parser.helpText();
    // Qt names the program after the running executable; the text is the
    // same whatever the file is called.
    const qsizetype end = text.indexOf(u'\n');
    return QStringLiteral("Usage: leafpress [options] SOURCE...") + text.mid(end);
}
