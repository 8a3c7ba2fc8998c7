#pragma once

#include "package/znPackage.h"
#include "package/znPackageParts.h"
#include "package/znPartName.h"

#include <QList>

#include <pugixml.hpp>

struct TznMediaCleanup
{
    bool RelsChanged = false;   // the main part's relationships lost an entry
    bool TypesChanged = false;  // the content types lost an override
};

// Media clean-up before a save: drops the main part's image relationships that no attribute
// of the main part names any more, then removes the media parts among those and the
// candidates (media whose drawing went) that no relationship of any part still names. A
// relationships part that cannot be read keeps every media part.
TznMediaCleanup RemoveUnusedMedia(const pugi::xml_document& main, const TznPartName& mainPart, TznRelationships& mainRels,
                                  TznPackage& package, TznContentTypes& types, QList<TznPartName> candidates);
