#pragma once

#include "automation/znDispatch.h"
#include "automation/znRegistry.h"

#include <QStringList>

#include <functional>
#include <map>
#include <memory>
#include <mutex>

// What was asked of an automation server, one line per call: the member,
// its kind and its arguments ("Open(/a.docx,<omitted>,false)", "Visible=true").
class TznCallLog
{
public:
    void Add(const QString& line)
    {
        std::lock_guard lock(FLock);
        FLines << line;
    }
    QStringList Lines() const
    {
        std::lock_guard lock(FLock);
        return FLines;
    }
    // Calls of member (a method or property get) raise an error after they are logged,
    // as a server that fails there would.
    void FailCalls(const QString& member)
    {
        std::lock_guard lock(FLock);
        FFailing = member;
    }
    bool Fails(const QString& member) const
    {
        std::lock_guard lock(FLock);
        return !FFailing.isEmpty() && member == FFailing;
    }
    // The lines that start with prefix.
    QStringList Starting(const QString& prefix) const
    {
        QStringList out;
        for (const QString& line : Lines())
            if (line.startsWith(prefix))
                out << line;
        return out;
    }

private:
    mutable std::mutex FLock;
    QStringList FLines;
    QString FFailing;
};

QString DescribeValue(const TznVariant& v);

// Forwards every call to a real automation object and writes it to a log;
// objects it hands back are wrapped the same way.
class TznRecordingDispatch : public IznDispatch
{
public:
    TznRecordingDispatch(std::shared_ptr<IznDispatch> inner, std::shared_ptr<TznCallLog> log)
        : FInner(std::move(inner)), FLog(std::move(log)) {}

    int GetIDOfName(const QString& name) override;
    TznVariant Invoke(int dispId, int flags, const QList<TznVariant>& args, const TznVariant* putValue) override;

    // Registers "Word.Application" as the real built-in server seen through a recorder.
    static void RegisterRecordingWord(std::shared_ptr<TznCallLog> log);

private:
    std::shared_ptr<IznDispatch> FInner;
    std::shared_ptr<TznCallLog> FLog;
    std::map<int, QString> FNames;
};

// A scripted automation object: each member is a function of its arguments
// and the property-put value.
class TznFakeObject : public IznDispatch
{
public:
    using Member = std::function<TznVariant(const QList<TznVariant>& args, const TznVariant* put)>;

    TznFakeObject& On(const QString& name, Member member)
    {
        FMembers.emplace_back(name, std::move(member));
        return *this;
    }
    int GetIDOfName(const QString& name) override;
    TznVariant Invoke(int dispId, int flags, const QList<TznVariant>& args, const TznVariant* putValue) override;

private:
    std::vector<std::pair<QString, Member>> FMembers;
};
