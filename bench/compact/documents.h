#pragma once

#include <QString>

// Converts the benchmark's built document set and the corpus's documents
// with Recompress false and true and with the lossy repack, and prints bytes
// and times side by side. corpus may be empty.
int RunDocumentSets(const QString& dir, const QString& corpus);
