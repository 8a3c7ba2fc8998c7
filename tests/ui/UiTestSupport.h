#pragma once

#include "project/znDialogs.h"
#include "znTestWait.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>

#include "platform/znShell.h"

// Dialogs answered from a script: each call takes the next answer (an
// exhausted script cancels) and records what it was asked with.
class TznScriptedDialogs : public IznDialogs
{
public:
    struct Answer
    {
        bool ok;
        QString value;
    };
    struct Call
    {
        QString kind; // "folder", "open", "save"
        QString filter;
        QString path;
        QString defaultExt;
        bool multiple = false;
    };

    void Push(bool ok, const QString& value = QString()) { FAnswers.push_back({ok, value}); }
    const std::vector<Call>& Calls() const { return FCalls; }

    bool BrowseForFolder(QString& folder) override;
    bool OpenFileDialog(const QString& filter, QString& path, bool multiple) override;
    bool SaveFileDialog(const QString& filter, const QString& defaultExt, QString& path) override;

private:
    bool answer(QString& value);

    std::deque<Answer> FAnswers;
    std::vector<Call> FCalls;
};

// A fresh process state for one window test: the executable placed in a
// temporary folder (so every file beside it lands there), the project with
// the product constants, product information, a recording shell.
class UiTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // A path inside the temporary folder.
    QString TempPath(const QString& name) const;
    // Writes a file with the given text (CR LF after each line).
    QString WriteFile(const QString& name, const QStringList& lines) const;

    QTemporaryDir FTemp;
    std::unique_ptr<TznRecordingShell> FShell;
    TznScriptedDialogs FDialogs;
};

// Runs fn on the next turn of the event loop, for answering a modal window
// that is about to be shown.
void WhenModal(std::function<void()> fn);

