#pragma once

#include <QString>

#include <memory>

class QTemporaryFile;

// True when name is an http:// or https:// address.
bool IsWebAddress(const QString& name);

// What a download may take: at most MaxSize bytes, no more than TimeoutMs
// milliseconds without data, and no more than DeadlineMs in all (a server
// that sends a byte now and then never falls silent).
struct TznDownloadLimits
{
    qint64 MaxSize = 0;
    int TimeoutMs = 30000;
    int DeadlineMs = 10 * 60 * 1000;
    int MaxRedirects = 5;
};

// The times every download of the document server gets; the tests of slow
// servers shorten them. Not an option of the program.
void SetServerDownloadTimes(int timeoutMs, int deadlineMs);
// The limits of the document server's downloads of documents of at most
// maxSize bytes.
TznDownloadLimits ServerDownloadLimits(qint64 maxSize);

// Downloads the document at url into a temporary file of this process,
// named with the address's extension, which goes when the returned object
// goes. Follows up to MaxRedirects redirects that are not less safe (https
// to http is refused). Raises EznError naming the address, without its
// user name and password, with the server's or the network's reason when
// the document cannot be fetched whole.
std::unique_ptr<QTemporaryFile> DownloadDocument(const QString& url, const TznDownloadLimits& limits);
