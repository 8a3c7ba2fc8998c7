#pragma once

#include <QPointer>
#include <QObject>
#include <QReadWriteLock>
#include <QString>
#include <QStringList>

#include <functional>
#include <map>
#include <memory>

class TznBatch;
class TznConvertor;
class TznPropList;
struct TznNodeEvent;

// Creates the first converter of a chain for (batch, worker count, per-file
// callback); the converter's constructor builds the rest of the chain.
using TznConvertorClass = std::function<TznConvertor*(TznBatch*, int, const TznNodeEvent&)>;

// What to do with a target file that already exists.
enum class TznOverwrite { Skip, Overwrite, Rename };
// The render check of results: Auto checks what went through LibreOffice, On every
// changed result, Off none.
enum class TznVerify { Auto, On, Off };

// Boolean text: a non-zero number or "True" is true, zero or "False" false,
// anything else def.
bool TextToBool(const QString& text, bool def);
// Integer text: optional leading blanks and sign, "$" or "0x" for hex; else def.
int TextToInt(const QString& text, int def);
// "True" or "False".
QString BoolToText(bool value);
// A source that is a web address: one beginning with "http://" or
// "https://" (letter case ignored). A local path merely holding "http"
// (a folder named httpdocs) is none.
bool IsWebSource(const QString& source);

// The batch project: the option text (ordered name=value lines), the product
// constants, the project file and the recent-project list.
class TznProject
{
public:
    TznProject();
    ~TznProject();
    TznProject(const TznProject&) = delete;
    TznProject& operator=(const TznProject&) = delete;

    // Product constants, assigned once at start-up.
    TznConvertorClass ConverterClass;
    bool OverwriteDefault = true;
    QString ProjectExt;
    QString ProjectFilter;
    QString ProductCode;
    QString Title;
    QString SourceFilter;
    QString FileMask;
    QString Version;

    // Main thread only.
    QString FileName;
    QStringList RecentFiles;
    QString InlineOptions;

    // --- option text; reads are safe from any thread ---

    // Raw value of the first line whose name equals key (case ignored); empty when absent.
    QString GetOption(const QString& key) const;
    // Replaces the first matching line by key=value, appends it when absent,
    // deletes the first matching line when value is empty.
    void SetOption(const QString& key, const QString& value);
    // Every line followed by CR LF.
    QString OptionsText() const;
    // Replaces the whole text; lines split at CR, LF and CR LF; a NUL ends the text.
    void SetOptionsText(const QString& text);
    QStringList OptionLines() const;

    // Typed getters with the defaults of the option table.
    QString Source() const;
    bool Subdir() const;
    QString Target() const;
    int ThreadsCount() const;
    TznOverwrite IsOverwrite() const;
    bool KeepFileTime() const;
    bool KeepTargetSubdirs() const;
    bool DeleteSource() const;
    QString RenameSource() const;
    // Compact into a private temporary folder only: no target is written
    // and no source touched.
    bool DryRun() const;
    // The "I/N" part of a batch split among processes, or empty.
    QString Shard() const;
    // True when RunAndClose or PureConsole reads true or Daemon is above 0.
    bool RunAndClose() const;
    int Daemon() const;
    bool PureConsole() const;
    QString LogFile() const;
    QString RegExt() const;
    bool SkipHidden() const;
    bool AppVisible() const;
    bool ReadOnly() const;
    bool SkipPassword() const;
    bool DocToDocx() const;
    int Type() const;
    // Picture resolution in pixels per inch handed to the document server.
    int Resolution() const;
    // JPEG quality (1-100) handed to the document server.
    int Quality() const;
    // True: beyond the pictures shown below their size, compaction also
    // re-inserts pictures far above Resolution, reaches every story and asks
    // the document server for its lossless pass on save.
    bool Recompress() const;
    // Verify: "Auto" (the default, also for text that reads as neither), True or False.
    TznVerify Verify() const;
    // The PSNR in dB (0 to 99, default 30) every page of a checked result must reach.
    double VerifyPsnr() const;
    // Embedded fonts subset to the characters the document uses.
    bool SubsetFonts() const;

    // Target with a trailing delimiter, created when missing (failure ignored).
    // An empty Target gives the empty text and creates nothing.
    QString TargetFolder() const;

    // --- main thread only ---

    // Interprets the first command-line parameter, then OpenInitial. Returns
    // false when the process must end at once (the I and U switches).
    bool ParseCommandLine(const QString& firstParam);
    void OpenInitial();
    void OpenProject(bool skipDialog);
    void NewProject();
    void SaveProject();
    void SaveProjectAs();
    // ControlsToOptions; with writeFile writes the text to FileName (raises
    // EznError when it cannot) and adds it to the recent list.
    void CollectOptions(bool writeFile);
    void ControlsToOptions();
    void OptionsToControls();
    void AddRecent();
    bool IsProjectFile(const QString& path) const;
    void BindControl(QObject* control);

    // ExeName followed by ".log".
    QString RecentFilesPath() const;
    // The executable's path with its extension replaced by ProjectExt.
    QString DefaultProjectPath() const;

    // Called for the I and U switches with (page, action, extra).
    std::function<void(const QString&, const QString&, const QString&)> OnOpenLink;

private:
    TznPropList& binder(QObject* control);
    void loadRecent();
    void saveRecent() const;

    mutable QReadWriteLock FOptionsLock;
    QStringList FOptions;
    std::vector<QPointer<QObject>> FBoundControls;
    std::map<QObject*, std::unique_ptr<TznPropList>> FBinders;
};

// The one project of the process.
extern TznProject* Project;
