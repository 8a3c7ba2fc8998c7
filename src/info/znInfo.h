#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <exception>
#include <mutex>

class QObject;

// The product-information object: the usage store beside the executable, the
// help file, the vendor's web pages and support e-mail, the reports sent to
// the site, and the handler of errors that escape the window's event handlers.
//
// Every method may be called from any thread; one lock guards the store and
// its file, so counters tallied by workers and by the main thread at once are
// never lost.
class TznInfo
{
public:
    // Root address of the vendor's web site (scheme "http", no trailing "/").
    static const QString SiteUrl;
    // "mailto:" followed by the support address.
    static const QString SupportMailTo;

    // Installs itself as the handler of unhandled errors, takes both stamps,
    // loads the store and counts one more start ("R"). A store that cannot be
    // written leaves the program running without a persistent store, silently.
    TznInfo();
    // Saves the store (a failure is ignored) and uninstalls the handler.
    ~TznInfo();
    TznInfo(const TznInfo&) = delete;
    TznInfo& operator=(const TznInfo&) = delete;

    // The object the window's event dispatch hands unhandled errors to, that
    // is the live TznInfo constructed last; nullptr when there is none. The
    // window's notify() override catches what a handler throws and calls
    // ExceptionHandler()->AppException(receiver, error) when it is not null.
    static TznInfo* ExceptionHandler();

    // Creation time of the executable's folder as a packed DOS date-time in
    // UTC, and the same in local time; -1 when it cannot be read. Taken once
    // by the constructor; the store file is keyed by InstallStamp.
    int32_t InstallStamp = -1;
    int32_t InstallStampLocal = -1;

    // ExeName with its extension replaced by ".ext". When the executable's
    // folder cannot be written the file lives under the same name in the
    // user's configuration folder instead.
    QString StorePath() const;
    // Replaces the store by the file's lines, tried with InstallStamp and then
    // with InstallStampLocal; a file that decodes with neither, or without an
    // "R" line, gives an empty store. Sets "v" to "2". Never raises.
    void LoadStore();
    // Writes the store keyed by InstallStamp, clearing a read-only attribute
    // first. Raises EznError when the file cannot be written; does nothing
    // when the store could not be written at start-up.
    void SaveStore();

    // With value > 0 sets the counter name to value; otherwise advances it by
    // step (an absent or non-numeric counter counts as 0). Writes the store
    // only when the text changes; raises EznError when that write fails.
    void Tally(const QString& name, int value, int step);
    // The quiet flag "+" as Boolean text, default false: no reports while true.
    bool IsQuiet() const;

    // Opens the help file (page "h"), a support e-mail (page "supports"), a
    // page of the site, or a report (empty page, non-empty action) through the
    // shell. Reports are skipped while IsQuiet. The shell's result is ignored.
    // Query values lose their double quotes and are percent-encoded (UTF-8);
    // an action "name&key=value" gives a=name&key=value, each value encoded.
    void OpenLink(const QString& page, const QString& action, const QString& extra);
    // ExeName with the extension ".chm" when that file exists, else with ".pdf"
    // when that one exists; else the installed manual of that name in the
    // documentation folder of the executable's prefix when it exists; else
    // ExeName with ".pdf" all the same.
    QString HelpFilePath() const;

    // Counts the error ("E") and opens the error report; never shows a message
    // box and never raises. sender may be null.
    void AppException(QObject* sender, const std::exception& error);

    // The raw text of the first store line named name (case ignored); empty
    // when absent.
    QString StoreValue(const QString& name) const;
    // A copy of the store's lines in order.
    QStringList StoreLines() const;

    // The store file's content for text under key, and back. Decoding with
    // another key, or of anything this did not produce, gives the empty text.
    static QString EncodeStore(const QString& text, int32_t key);
    static QString DecodeStore(const QString& data, int32_t key);

private:
    void loadStoreLocked();
    void saveStoreLocked();
    QString usageSummaryLocked() const;

    mutable std::mutex FLock;
    QStringList FStore;
    // False once the store could not be written at start-up: the program then
    // keeps its counters in memory only.
    bool FPersistent = true;
};

// The one product-information object of the process.
extern TznInfo* Info;
