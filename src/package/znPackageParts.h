#pragma once

#include "package/znPartName.h"

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>

#include <optional>
#include <pugixml.hpp>

struct TznRelationship
{
    QString Id;
    QString Type;
    QString Target;
    bool External = false;
};

// The relationships of one part (a .rels part), parsed so that they can be changed.
class TznRelationships
{
public:
    // An empty set, written as a new part when it changes.
    TznRelationships();
    void Load(const QByteArray& bytes, const QString& partName);
    QByteArray Save() const;

    QList<TznRelationship> All() const;
    std::optional<TznRelationship> ById(const QString& id) const;
    // The first relationship whose type ends with "/" + typeSuffix.
    std::optional<TznRelationship> ByTypeSuffix(const QString& typeSuffix) const;
    // Adds a relationship with a new id and returns that id.
    QString Add(const QString& type, const QString& target, bool external);
    void Remove(const QString& id);
    // Removes every relationship whose id is in ids, in one pass over the part.
    void Remove(const QSet<QString>& ids);
    // Points the relationship of id at another (internal) target.
    void SetTarget(const QString& id, const QString& target);

private:
    pugi::xml_document FDoc;
};

// The package's content types: defaults by extension, overrides by part name.
class TznContentTypes
{
public:
    void Load(const QByteArray& bytes);
    QByteArray Save() const;
    QString ContentTypeOf(const TznPartName& part) const;
    // Adds a default for the extension when there is none; true when it added one.
    bool EnsureDefault(const QString& extension, const QString& contentType);
    // Drops the override of a part; true when there was one.
    bool RemoveOverride(const TznPartName& part);
    // Drops the overrides of every part whose key (TznPartName::Key) is in keys, in one
    // pass; true when there was one.
    bool RemoveOverrides(const QSet<QString>& keys);

private:
    pugi::xml_document FDoc;
};
