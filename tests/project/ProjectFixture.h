#pragma once

#include "app/znProduct.h"
#include "platform/znApp.h"
#include "project/znProject.h"
#include "znTestBytes.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

// A project as start-up makes it, with the executable placed in a fresh
// temporary folder so that the default project and the recent list live there.
class ProjectFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(FDir.isValid());
        makeApp();
        FProject = std::make_unique<TznProject>();
        AssignProductConstants(*FProject);
        Project = FProject.get();
    }

    void TearDown() override
    {
        FProject.reset();
        Project = nullptr;
        FApp.reset();
        App = nullptr;
    }

    void makeApp()
    {
        FApp = std::make_unique<TznApp>(FDir.filePath(QStringLiteral("leafpress")), QStringList());
        App = FApp.get();
    }

    QString path(const char* name) const { return FDir.filePath(QString::fromUtf8(name)); }

    QTemporaryDir FDir;
    std::unique_ptr<TznApp> FApp;
    std::unique_ptr<TznProject> FProject;
};
