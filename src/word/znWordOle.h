#pragma once

#include "automation/znVariant.h"
#include "engine/znConvertor.h"

#include <QString>

// The converter worker that drives one word-processor application through
// automation: started lazily on the worker's own thread, one document open
// at a time, quit when the worker ends.
class TznWordOle : public TznConvertor
{
public:
    TznWordOle(TznBatch* batch, int count, const TznNodeEvent& onFileDone);
    ~TznWordOle() override;

    // Creates the application ("Word.Application", else "WPS.Application")
    // and prepares it; raises when neither can be created.
    void StartApplication();
    // Quits the application without saving; safe to call repeatedly.
    void QuitApplication();
    // Starts the application when needed and opens fileName (a file or an
    // http(s) address) unless a document is open. A file that does not exist
    // is passed to Add as its template, which fails.
    void OpenDocument(const QString& fileName);
    // Closes the open document without saving; safe to call repeatedly.
    void CloseDocument();

    bool ReadOnlyOption() const;
    bool SkipPasswordOption() const;

    // The application's folder followed by "\WINWORD.EXE".
    QString AppPath() override;
    // Whether the open document carries a macro project (true when unknown).
    bool HasMacros() override;

    // Passed as the document password with SkipPassword, so that a protected
    // document fails at once instead of asking for its password.
    static constexpr int DocumentPassword = 37;

protected:
    TznVariant FApp;
    TznVariant FDoc;
    int FVersion = 0;
};
