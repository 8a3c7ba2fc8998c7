#pragma once

#include <QProcess>
#include <QString>

// A local HTTP server on a free port serving the files of a folder, run by
// Debian's Python for the life of the object. Besides the files it answers
// /redirect/N/name with a chain of N redirects ending at /name, and
// /status/NNN with that status and its reason phrase.
class TznTestWebServer
{
public:
    explicit TznTestWebServer(const QString& folder);
    ~TznTestWebServer();
    // False when the server could not be started.
    bool IsRunning() const { return FPort != 0; }
    // http://127.0.0.1:port + path (which begins with "/").
    QString Url(const QString& path) const;
    // An address on which nothing listens.
    static QString UnreachableUrl(const QString& path);

private:
    QProcess FProcess;
    int FPort = 0;
};
