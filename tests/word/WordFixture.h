#pragma once

#include "WordTestUtil.h"

#include "engine/znBatch.h"
#include "platform/znApp.h"
#include "project/znProject.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

// A project with the product's constants, a batch of chosen files with its
// target folder, and a call log; the built-in server is registered behind a
// recorder. Every test works in its own temporary folder.
class WordFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(FDir.isValid());
        FApp = std::make_unique<TznApp>(FDir.filePath(QStringLiteral("leafpress")), QStringList());
        App = FApp.get();
        FProject = std::make_unique<TznProject>();
        FProject->ProductCode = QStringLiteral("docslim");
        FProject->ProjectExt = QStringLiteral(".batch-docslim");
        FProject->OverwriteDefault = false;
        Project = FProject.get();
        // The compaction of the main text alone unless a test asks for more.
        FProject->SetOptionsText(QStringLiteral("Recompress=False"));
        QDir(FDir.path()).mkpath(QStringLiteral("in"));
        QDir(FDir.path()).mkpath(QStringLiteral("out"));
        FLog = std::make_shared<TznCallLog>();
        TznRecordingDispatch::RegisterRecordingWord(FLog);
    }

    void TearDown() override
    {
        ResetAutomationClasses();
        FBatch.reset();
        FProject.reset();
        Project = nullptr;
        FApp.reset();
        App = nullptr;
    }

    QString path(const QString& name) const { return FDir.filePath(name); }

    // A batch holding the one chosen file, converting into out/.
    TznNode* batchOf(const QString& file)
    {
        FBatch = std::make_unique<TznBatch>();
        FBatch->SetTargetFolder(path(QStringLiteral("out/")));
        FBatch->AddSingle(file);
        return FBatch->NextNode();
    }

    static QByteArray bytesOf(const QString& file)
    {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    static void writeBytes(const QString& file, const QByteArray& bytes)
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }

    QTemporaryDir FDir;
    std::unique_ptr<TznApp> FApp;
    std::unique_ptr<TznProject> FProject;
    std::unique_ptr<TznBatch> FBatch;
    std::shared_ptr<TznCallLog> FLog;
};
