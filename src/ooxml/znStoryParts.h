#pragma once

#include "ooxml/znDrawingIndex.h"
#include "package/znPackage.h"
#include "package/znPackageParts.h"
#include "package/znPartName.h"

#include <QList>

#include <memory>
#include <vector>
#include <pugixml.hpp>

// A part that holds stories (a header, a footer, the notes, the comments), with its own
// relationships read at the first use.
struct TznStoryPart
{
    TznPartName Name;
    pugi::xml_document Xml;
    std::unique_ptr<TznRelationships> Rels;
    bool Changed = false, RelsChanged = false;
    // The part's relationships, read from the package at the first ask.
    TznRelationships& RelsIn(const TznPackage& package);
};

// The story parts of parts: index 0 stands for the main part and holds nothing.
using TznStoryParts = std::vector<std::unique_ptr<TznStoryPart>>;

// Reads the parts the main part names as stories into parts (each once however many sections
// name it; a part that cannot be read is left out) and returns their stories: the headers
// and footers in the order the sections name them, then the footnotes, endnotes and comments.
QList<TznStory> ReadStoryParts(const pugi::xml_document& main, const TznPartName& mainPart, const TznRelationships& mainRels,
                               const TznPackage& package, TznStoryParts& parts);

// Writes each changed story part and its relationships, after removing the media of
// candidates it no longer uses; true when any part was written.
bool SaveStoryParts(TznStoryParts& parts, TznPackage& package, TznContentTypes& types, bool& typesChanged,
                    const QList<TznPartName>& candidates);
