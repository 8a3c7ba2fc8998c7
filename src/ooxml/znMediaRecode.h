#pragma once

#include "package/znPackage.h"
#include "package/znPackageParts.h"
#include "package/znPartName.h"

#include <QList>

// What the lossless pass on save does; off unless the server's options ask for it.
struct TznMediaRecodeOptions
{
    bool Enabled = false;
    int Quality = 85;     // JPEG quality for photographs stored losslessly
    int PasteType = 13;   // such photographs become JPEG only with the automatic type
    // Embedded fonts are subset to the document's characters on save (not lossless for a
    // reader who edits the document in the font: other characters fall back to another).
    bool SubsetFonts = false;
};

struct TznMediaRecodeResult
{
    QList<TznPartName> Unused;  // media parts no relationship names any more
    bool MainRelsChanged = false;
    bool TypesChanged = false;
};

// The lossless pass over a package's pictures before it is written: media of identical
// bytes stored once, each picture re-encoded when a smaller encoding displays the same,
// stored media entries deflated. Only media that nothing but picture relationships (or the
// package's thumbnail relationship) names is touched; a new extension renames the part and re-points its relationships. The main
// part's relationships are the caller's (it writes them); every other relationships part
// changed is written here. A relationships part that cannot be read stops the pass before
// anything changed.
TznMediaRecodeResult RecodeMedia(TznPackage& package, const TznPartName& mainPart, TznRelationships& mainRels,
                                 TznContentTypes& types, const TznMediaRecodeOptions& options);
