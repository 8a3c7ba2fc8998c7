#pragma once

#include "automation/znOle.h"
#include "znTestDocx.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// A fresh server application and a temporary folder per test.
class TznServerTest : public ::testing::Test
{
protected:
    void SetUp() override { FApp = CreateAutomationObject(QStringLiteral("Word.Application")); }

    QString PathOf(const QString& name) const { return FDir.path() + QLatin1Char('/') + name; }
    TznVariant Documents() const { return OleGet(FApp, QStringLiteral("Documents")); }
    TznVariant Open(const QString& path) const
    {
        return OleCall(Documents(), QStringLiteral("Open"), {path, TznVariant::Omitted(), false});
    }
    // A corpus file copied into the test's folder; empty when the corpus is absent.
    QString CopyCorpus(const QString& relPath) const
    {
        const QString corpus = CorpusDir();
        if (corpus.isEmpty())
            return QString();
        const QString target = PathOf(QFileInfo(relPath).fileName());
        QFile::remove(target);
        return QFile::copy(corpus + QLatin1Char('/') + relPath, target) ? target : QString();
    }
    template <typename F>
    static QString MessageOf(F&& call)
    {
        try {
            call();
        } catch (const EznError& e) {
            return e.Message();
        }
        return QString();
    }
    QStringList FolderEntries() const { return QDir(FDir.path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot); }

    QTemporaryDir FDir;
    TznVariant FApp;
};
