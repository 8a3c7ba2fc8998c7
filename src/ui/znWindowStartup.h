#pragma once

#include <QApplication>
#include <QStringList>

#include <exception>
#include <memory>

class TznFrmDocslimAbout;
class TznFrmDocslimMain;

// The application object of the window: an error that a handler lets escape
// does not end the program; it goes to the product information's handler of
// unhandled errors (counted and reported, no message box). An error that is
// not of the standard kind becomes the system's error first.
class TznApplication : public QApplication
{
    Q_OBJECT
public:
    TznApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

    // Hands an error that escaped an event handler of receiver to the
    // handler of unhandled errors; never throws.
    static void HandleException(QObject* receiver, const std::exception& error);
};

// The windows of the program as start-up makes them: the main window and
// its about box, the about box's start-up call made, the main window shown
// with sources (documents or folders) listed as if dropped on its result
// list. The about box goes before the main window.
struct TznStartedWindows
{
    std::unique_ptr<TznFrmDocslimMain> Main;
    std::unique_ptr<TznFrmDocslimAbout> About;
    ~TznStartedWindows();
};
std::unique_ptr<TznStartedWindows> StartWindows(const QStringList& sources);

// The window path of the program: the application object with the product's
// title, StartWindows, then the message loop until the main window closes.
// Returns the exit status: the run control's (2 after a refused or badly
// logged unattended run) when the message loop ends with 0.
int RunWindow(int& argc, char** argv, const QStringList& sources = {});
