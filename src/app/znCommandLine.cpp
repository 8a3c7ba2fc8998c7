#include "app/znCommandLine.h"

#include "engine/znConvertor.h"
#include "engine/znShard.h"
#include "platform/znLocalPath.h"
#include "platform/znPath.h"

#include <QCommandLineParser>
#include <QDir>

#include <algorithm>

namespace {

// A parameter that reads as an option: "-" and at least one more character.
bool isOption(const QString& param)
{
    return param.size() >= 2 && param[0] == u'-';
}

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

// The option groups of --help, in their order.
enum TznOptionGroup { ogResults, ogDocuments, ogHow, ogOutput };
const char* const kGroupTitles[] = {"Where results go:", "What is compacted:", "How:", "Output:"};

struct TznOptionSpec
{
    QStringList names;
    const char* valueName; // nullptr for a switch
    const char* description; // %1 is the most worker threads
    TznOptionGroup group;
};

const TznOptionSpec kOptions[] = {
    {{"o", "target"}, "DIR", "folder the results go to (required unless --in-place, --dry-run or --project)",
     ogResults},
    {{"in-place"}, nullptr, "replace each document by its compacted self", ogResults},
    {{"overwrite"}, "skip|yes|no", "an existing target: skip it, overwrite it, or save under another name "
                                   "(default: no)", ogResults},
    {{"keep-time"}, nullptr, "give each result the source's file times (KeepFileTime)", ogResults},
    {{"dry-run"}, nullptr, "compact into a temporary folder and report what would be saved; "
                           "write no target, touch no source (DryRun)", ogResults},
    {{"r", "recursive"}, nullptr, "take the documents of sub-folders too (Subdir)", ogDocuments},
    {{"shard"}, "I/N", "take only the documents whose relative path hashes to shard I of N, "
                       "0 <= I < N (Shard)", ogDocuments},
    {{"project"}, "FILE", "run the project FILE unattended; the other options given replace its keys",
     ogDocuments},
    {{"j", "threads"}, "N", "worker threads, 1 to %1 (ThreadsCount; default: the number of cores)", ogHow},
    {{"resolution"}, "PPI", "picture resolution in pixels per inch, 1 to 10000 (Resolution)", ogHow},
    {{"quality"}, "Q", "JPEG quality, 1 to 100 (Quality)", ogHow},
    {{"type"}, "N", "data-type code used when pictures are pasted back (Type)", ogHow},
    {{"no-recompress"}, nullptr, "only re-insert the main text's pictures shown below their size; "
                                 "no other pass, no lossless re-coding on save (Recompress=False)", ogHow},
    {{"verify"}, nullptr, "render every changed result and its source in LibreOffice and keep the source "
                          "where a page would look different (Verify=True; default: only .doc documents)", ogHow},
    {{"no-verify"}, nullptr, "keep every smaller result without rendering it (Verify=False)", ogHow},
    {{"json"}, nullptr, "one JSON object per document on standard output, then a summary object", ogOutput},
    {{"q", "quiet"}, nullptr, "show nothing but the result lines and the summary (no progress line)", ogOutput},
    {{"log"}, "FILE", "write the result lines to FILE (LogFile)", ogOutput},
    {{"h", "help"}, nullptr, "show this text and end", ogOutput},
    {{"V", "version"}, nullptr, "show the version and end", ogOutput},
};

QString descriptionOf(const TznOptionSpec& spec)
{
    QString text = QString::fromUtf8(spec.description);
    return text.contains(QStringLiteral("%1")) ? text.arg(MaxWorkers) : text;
}

void addOptions(QCommandLineParser& parser)
{
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    for (const TznOptionSpec& spec : kOptions) {
        if (spec.valueName)
            parser.addOption(QCommandLineOption(spec.names, descriptionOf(spec), QString::fromUtf8(spec.valueName)));
        else
            parser.addOption(QCommandLineOption(spec.names, descriptionOf(spec)));
    }
}

const TznOptionSpec* findOption(const QString& name)
{
    for (const TznOptionSpec& spec : kOptions)
        if (spec.names.contains(name))
            return &spec;
    return nullptr;
}


// The first option of params that is unknown or lacks or wrongly has a
// value, told as GNU tools tell it; empty when every option is sound.
// Parameters after "--" are sources.
QString optionError(const QStringList& params)
{
    for (qsizetype i = 0; i < params.size(); ++i) {
        const QString& param = params[i];
        if (param == QStringLiteral("--"))
            break;
        if (param.startsWith(QStringLiteral("--"))) {
            const qsizetype eq = param.indexOf(u'=');
            const QString name = param.mid(2, eq < 0 ? -1 : eq - 2);
            const TznOptionSpec* spec = name.size() > 1 ? findOption(name) : nullptr;
            if (!spec)
                return QStringLiteral("unrecognized option '%1'").arg(param);
            if (!spec->valueName && eq >= 0)
                return QStringLiteral("option '--%1' doesn't allow an argument").arg(name);
            if (spec->valueName && eq < 0 && ++i >= params.size())
                return QStringLiteral("option '--%1' requires an argument").arg(name);
            continue;
        }
        if (!isOption(param))
            continue;
        // Compacted short options: "-rj3" is -r and -j 3.
        for (qsizetype c = 1; c < param.size(); ++c) {
            const TznOptionSpec* spec = findOption(param.mid(c, 1));
            if (!spec)
                return QStringLiteral("invalid option -- '%1'").arg(param[c]);
            if (spec->valueName) {
                if (c + 1 == param.size() && ++i >= params.size())
                    return QStringLiteral("option requires an argument -- '%1'").arg(param[c]);
                break;
            }
        }
    }
    return {};
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
    result.Error = optionError(params);
    if (!result.Error.isEmpty())
        return result;
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
        error = QStringLiteral("no SOURCE given: name a document, a folder or a mask");
        return result;
    }
    if (inPlace && parser.isSet(QStringLiteral("target"))) {
        error = QStringLiteral("--target and --in-place exclude each other: give one of them");
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
            error = QStringLiteral("'%1': web addresses are taken only by -pSource=ADDRESS,Target=DIR").arg(given);
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
            error = QStringLiteral("--in-place takes sources of one folder only: run once per folder");
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
        if (!readNumber(parser, QStringLiteral("threads"), 1, MaxWorkers, number, error))
            return result;
        lines << QStringLiteral("ThreadsCount=%1").arg(number);
    } else if (result.ProjectFile.isEmpty()) {
        lines << QStringLiteral("ThreadsCount=%1").arg(qMax(cores, 1));
    }
    if (parser.isSet(QStringLiteral("keep-time")))
        lines << QStringLiteral("KeepFileTime=True");
    if (parser.isSet(QStringLiteral("no-recompress")))
        lines << QStringLiteral("Recompress=False");
    if (parser.isSet(QStringLiteral("verify")) && parser.isSet(QStringLiteral("no-verify"))) {
        error = QStringLiteral("--verify and --no-verify exclude each other: give one of them");
        return result;
    }
    if (parser.isSet(QStringLiteral("verify")))
        lines << QStringLiteral("Verify=True");
    if (parser.isSet(QStringLiteral("no-verify")))
        lines << QStringLiteral("Verify=False");
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
    // Each option with its value name, its description wrapped at 79
    // columns from column 25, below the title of its group.
    constexpr int column = 24;
    QString text;
    for (int group = ogResults; group <= ogOutput; ++group) {
        text += QString::fromUtf8(kGroupTitles[group]) + u'\n';
        for (const TznOptionSpec& spec : kOptions) {
            if (spec.group != group)
                continue;
            QString names = spec.names.first().size() == 1
                                ? QStringLiteral("  -%1, ").arg(spec.names.first())
                                : QStringLiteral("      ");
            names += QStringLiteral("--") + spec.names.last();
            if (spec.valueName)
                names += u'=' + QString::fromUtf8(spec.valueName);
            QString line = names.size() + 2 > column ? names + u'\n' + QString(column, u' ')
                                                     : names.leftJustified(column);
            qsizetype width = column;
            for (const QString& word : descriptionOf(spec).split(u' ')) {
                if (width > column && width + 1 + word.size() > 79) {
                    line += u'\n' + QString(column, u' ');
                    width = column;
                }
                if (width > column) {
                    line += u' ';
                    ++width;
                }
                line += word;
                width += word.size();
            }
            text += line + u'\n';
        }
        text += u'\n';
    }
    return text;
}

QString UsageError(const QString& error)
{
    return QStringLiteral("leafpress: %1\nTry 'leafpress --help' for more information.\n").arg(error);
}

bool IsSeveralSources(const QStringList& params)
{
    return params.size() > 1 && !isOption(params.first()) && params.first() != QStringLiteral("-");
}
