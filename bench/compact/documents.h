#pragma once

#include <QString>

// Converts the benchmark's built document set, the held-out-like set and the
// corpus's documents with Recompress false and true, with SubsetFonts, and
// with the lossy repack, and prints bytes and times side by side. corpus may
// be empty; only names one set ("built", "held-out-like", "corpus"), empty all.
int RunDocumentSets(const QString& dir, const QString& corpus, const QString& only = QString());
