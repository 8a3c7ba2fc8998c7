#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// Text as the system's text files hold it. Decoding: a byte-order mark wins
// (UTF-8, UTF-16 little- or big-endian); without one, valid UTF-8 is taken as
// such, anything else as the locale's code page, so no byte is lost.
QString DecodeText(const QByteArray& bytes);

// The text in the locale's code page, without a byte-order mark.
QByteArray EncodeText(const QString& text);

// Reads and decodes a whole file; nothing when it cannot be opened or is
// larger than maxBytes (a project or list file is never that large).
std::optional<QString> ReadTextFile(const QString& path, qint64 maxBytes = 16 * 1024 * 1024);

// Splits text into lines at CR LF, CR and LF. A final line break adds no empty line.
QStringList SplitLines(const QString& text);

// Every line followed by CR LF.
QString JoinLines(const QStringList& lines);

// Writes the lines whole (every line followed by CR LF) in the locale's code
// page. The file is written under a temporary name and renamed into place, so
// a failed write never leaves half a file; an existing device or pipe is
// written into as it is, every byte checked. Raises EznError naming the path.
void WriteTextFile(const QString& path, const QStringList& lines);
