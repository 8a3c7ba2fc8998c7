#pragma once

#include "automation/znOle.h"
#include "znTestDocx.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// Compacts an open document as the converter does: each collection from the last item
// down, each visit guarded; returns how many pictures were re-inserted.
inline int CompactLikeTheConverter(const TznVariant& app, const TznVariant& doc, int pasteType = 13)
{
    int reinserted = 0;
    const std::pair<const char*, int> collections[] = {{"InlineShapes", 3}, {"Shapes", 13}};
    for (const auto& [name, pictureType] : collections) {
        const TznVariant collection = OleGet(doc, QString::fromLatin1(name));
        for (int i = OleGet(collection, QStringLiteral("Count")).ToInt(); i >= 1; --i) {
            try {
                const TznVariant shape = OleCall(collection, QStringLiteral("Item"), {i});
                if (OleGet(shape, QStringLiteral("Type")).ToInt() != pictureType
                    || OleGet(shape, QStringLiteral("ScaleWidth")).ToDouble() >= 100
                    || OleGet(shape, QStringLiteral("ScaleHeight")).ToDouble() >= 100)
                    continue;
                OleCall(shape, QStringLiteral("Select"));
                OleCall(OleGet(app, QStringLiteral("Selection")), QStringLiteral("Copy"));
                OleCall(shape, QStringLiteral("Delete"));
                OleCall(OleGet(app, QStringLiteral("Selection")), QStringLiteral("PasteSpecial"), {0, 0, 0, 0, pasteType});
                ++reinserted;
            } catch (const EznError&) {
            }
        }
    }
    return reinserted;
}

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
