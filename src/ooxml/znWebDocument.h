#pragma once

#include <QString>

#include <memory>

class QTemporaryFile;

// True when name is an http:// or https:// address.
bool IsWebAddress(const QString& name);

// What a download may take: at most MaxSize bytes, and no more than
// Timeout milliseconds without data.
struct TznDownloadLimits
{
    qint64 MaxSize = 0;
    int TimeoutMs = 30000;
    int MaxRedirects = 5;
};

// Downloads the document at url into a temporary file of this process,
// named with the address's extension, which goes when the returned object
// goes. Follows up to MaxRedirects redirects that are not less safe (https
// to http is refused). Raises EznError naming the address with the server's
// or the network's reason when the document cannot be fetched whole.
std::unique_ptr<QTemporaryFile> DownloadDocument(const QString& url, const TznDownloadLimits& limits);
