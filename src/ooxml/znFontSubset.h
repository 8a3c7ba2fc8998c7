#pragma once

#include "package/znPackage.h"
#include "package/znPackageParts.h"
#include "package/znPartName.h"

#include <QByteArray>
#include <QSet>
#include <QString>

#include <optional>

// Embedded fonts cut down to the characters a document uses. A word processor embeds a font
// part obfuscated with the key its font table names (w:fontKey); here each one is
// de-obfuscated, subset with HarfBuzz to the document's characters, obfuscated again and
// written when smaller. The document then says that it embeds subsets (w:saveSubsetFonts),
// so that its writer keeps them so.

// The font bytes obfuscated with (or, the same operation, freed from) the GUID key
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}": the first 32 bytes XOR the key's 16 bytes in
// reverse order. Nothing when the key is no GUID or the font is shorter than 32 bytes.
std::optional<QByteArray> ObfuscatedFont(const QByteArray& font, const QString& fontKey);

// The TrueType or OpenType font reduced to the glyphs of the characters (and what its layout
// needs for them); nothing when HarfBuzz cannot read or subset it.
std::optional<QByteArray> SubsetFont(const QByteArray& font, const QSet<char32_t>& characters);

struct TznFontSubsetResult
{
    int Subset = 0;         // font parts written smaller
    bool SettingsChanged = false;
};

// Subsets every embedded font of the document whose main part is mainPart to the characters
// of its parts' text (with printable ASCII and Latin-1, which fields and numbering may show
// without their being in the text). Symbol fonts, fonts that cannot be read and fonts that
// would not get smaller stay as they are; a damaged font table leaves everything as it was.
TznFontSubsetResult SubsetEmbeddedFonts(TznPackage& package, const TznPartName& mainPart, TznRelationships& mainRels);
