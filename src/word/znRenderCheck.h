#pragma once

#include <QString>

// The check a result passes before it replaces its target (the option Verify): it keeps
// its source's embedded fonts and, when rendered, its source's looks.

// The embedded fonts of a document: the font table's embedded faces in a package, the
// Embedded OpenType fonts stored in a legacy compound file; 0 for anything unreadable.
int EmbeddedFontCount(const QString& path);

// True when the file is a legacy binary document (a compound file, or a single-stream one of
// Word for Windows 1.x and 2.x), which the document server reads and writes through LibreOffice.
bool IsLegacyBinaryDocument(const QString& path);

// Why result must not replace source, in the words that follow "kept as it was: " in the
// result line ("page 3 would look different, 15.1 dB", "4 pages instead of 3", "1
// embedded font instead of 2"); empty when it may. With render, the thread's LibreOffice
// instance renders both and every page must reach minPsnr dB at 100 dpi. The labels name
// the files in messages. Raises EznError when rendering is asked for and LibreOffice
// cannot be had, saying what to install.
QString ResultDifference(const QString& source, const QString& result, bool render, double minPsnr,
                         const QString& sourceLabel, const QString& resultLabel);
