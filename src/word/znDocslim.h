#pragma once

#include "project/znProject.h"
#include "word/znWordOle.h"

// The product's converter: re-inserts every picture shown below its full
// size at the size it is shown, saves the document to its target and keeps
// the source's bytes when nothing was gained.
class TznDocslim : public TznWordOle
{
public:
    TznDocslim(TznBatch* batch, int count, const TznNodeEvent& onFileDone);

    // The converter class the product constants name: creates a TznDocslim.
    static TznConvertor* Create(TznBatch* batch, int count, const TznNodeEvent& onFileDone);

    void ConvertFile(TznBatch* batch, TznNode* node) override;

    // Visits the collection from its last item to its first and re-inserts
    // every picture of shapeType shown below 100 % in both directions.
    void CompactPictures(const TznVariant& collection, int shapeType);
    // Re-inserts every picture of shapeType whose density on the page is
    // above Resolution by more than 10 %, whatever its scale; alsoReduced
    // takes the pictures shown below 100 % in both directions too.
    void CompactDensePictures(const TznVariant& collection, int shapeType, bool alsoReduced = false);
    // The pictures of every story but the main text: headers, footers,
    // notes, comments, text boxes.
    void CompactStories();

protected:
    bool FDocToDocx = true;
    // The paste type of the file being converted, read once per file.
    int FPasteType = 13;
    // The option Recompress, read once per file.
    bool FRecompress = true;
    // The option Verify, read once per file.
    TznVerify FVerify = TznVerify::Auto;

private:
    void passPictureSettings();
    // The local file holding the source's bytes: the source itself, or
    // for a web address the server's downloaded copy; empty when unknown.
    QString sourceCopy(const QString& source) const;
    // Copy, delete and paste of one picture under the batch lock.
    void ReinsertPicture(const TznVariant& shape);
};
