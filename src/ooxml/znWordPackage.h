#pragma once

#include "package/znPackage.h"
#include "package/znPartName.h"

#include <QString>

// What makes a package a word-processing one: the content type of its main part, and the
// parts of a new, empty document.

// True for the main part of a document or template, with or without macros.
bool IsWordMainContentType(const QString& contentType);

// Writes the content types, the package relationships and an empty main part (one page of
// A4 with margins of an inch) named main, which must be /word/document.xml.
void WriteBlankWordPackage(TznPackage& package, const TznPartName& main);
