#pragma once

#include "platform/znPath.h"

#include <QString>

#include <functional>

// Texts of the window's runs that need no widget.

// The target of a run cut back until it names a folder: while it holds "?"
// or "*", has its first ":" beyond the tenth character (Windows only), or
// names an existing file (isFile, asked without a trailing delimiter), it is
// replaced by the folder part of itself without its trailing delimiter.
// Gives the empty text when the cutting leaves nothing or makes no progress.
QString CutBackTarget(QString target, PathStyle style, const std::function<bool(const QString&)>& isFile);

// The one-line status of a run: documents done of those listed, failures,
// bytes saved so far.
QString RunStatusText(int done, int listed, int failed, qint64 savedBytes);

// The first line of a result text, which the result column shows.
QString FirstLine(const QString& text);
