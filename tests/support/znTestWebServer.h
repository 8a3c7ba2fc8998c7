#pragma once

#include <QCoreApplication>
#include <QProcess>
#include <QString>

#include <memory>

// An application object for the life of a test, which Qt's network
// replies need; tests without one keep running without.
class TznTestApplication
{
public:
    TznTestApplication() : FApp(std::make_unique<QCoreApplication>(FArgc, FArgv)) {}

private:
    int FArgc = 1;
    char FName[5] = "test";
    char* FArgv[2] = {FName, nullptr};
    std::unique_ptr<QCoreApplication> FApp;
};

// A local HTTP server on a free port serving the files of a folder, run by
// Debian's Python for the life of the object. Besides the files it answers
// /redirect/N/name with a chain of N redirects ending at /name, and
// /status/NNN with that status and its reason phrase, /loop/name with a
// redirect to itself, /private/name only to the user "admin" with the password
// "s3cret", /trickle/name one byte every 50 ms, /short/name with a length
// 1000 bytes beyond its body, /stall/name with half its body and then
// silence.
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
