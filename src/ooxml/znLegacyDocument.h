#pragma once

#include <QString>

#include <memory>

class QTemporaryDir;
class TznLegacyOffice;
class TznWordDocument;

// The office instance of one application object of the server: its thread's instance
// (TznLegacyOffice::OfThisThread), started only by the first legacy document and ended
// with the application.
struct TznLegacyBridge
{
    TznLegacyBridge();
    ~TznLegacyBridge();
    TznLegacyOffice& Office();
    // Ends the instance, if one runs.
    void Quit();

private:
    TznLegacyOffice* FOffice = nullptr;
};

// True when the file's content (not its name) is a legacy binary Word document: a compound
// file that holds a WordDocument stream.
bool IsLegacyWordDocument(const QString& path);

// Opens a legacy binary Word document: converted by LibreOffice into a package in scratch,
// a private folder made here that must live as long as the document. Raises EznError
// naming path: encrypted, damaged, LibreOffice or its module missing, or timed out.
std::unique_ptr<TznWordDocument> OpenLegacyDocument(const QString& path, TznLegacyBridge& bridge,
                                                    std::unique_ptr<QTemporaryDir>& scratch);

// Writes the document as a legacy binary Word document to target (a temporary name renamed
// into place). Raises EznError naming target.
void SaveLegacyDocument(TznWordDocument& model, const QString& target, TznLegacyBridge& bridge);
