#include "znTestProcess.h"

#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

TznProcessResult RunProcess(const QString& exe, const QStringList& params, const QString& folder,
                            const QString& pathFirst)
{
    QProcess p;
    if (!folder.isEmpty() || !pathFirst.isEmpty()) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (!pathFirst.isEmpty())
            env.insert(QStringLiteral("PATH"), pathFirst + u':' + env.value(QStringLiteral("PATH")));
        if (!folder.isEmpty()) {
            env.insert(QStringLiteral("HOME"), folder);
            env.insert(QStringLiteral("XDG_CONFIG_HOME"), folder + QStringLiteral("/config"));
        }
        p.setProcessEnvironment(env);
    }
    if (!folder.isEmpty())
        p.setWorkingDirectory(folder);
    p.start(exe, params);
    EXPECT_TRUE(p.waitForFinished(120000)) << exe.toStdString();
    TznProcessResult r;
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}
