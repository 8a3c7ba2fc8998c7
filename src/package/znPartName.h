#pragma once

#include <QString>

// The name of a part of a package: an absolute, "/"-separated name such as
// "/word/document.xml". Part names compare without letter case.
class TznPartName
{
public:
    TznPartName() = default;
    // From a part name ("/word/document.xml") or a zip entry name ("word/document.xml").
    explicit TznPartName(const QString& name);

    bool IsEmpty() const { return FName.isEmpty(); }
    // "/word/document.xml".
    const QString& Name() const { return FName; }
    // The zip entry name: the part name without its leading "/".
    QString EntryName() const { return FName.mid(1); }
    // The folder of the part with a trailing "/": "/word/".
    QString BaseFolder() const;
    // The extension without its ".", lower case; empty when there is none.
    QString Extension() const;
    // The relationships part of this part: "/word/_rels/document.xml.rels"; "/_rels/.rels" for the package.
    TznPartName RelsName() const;
    // The part a relationship target names, relative to this part's folder ("media/a.png", "../x", "/y").
    TznPartName Resolve(const QString& target) const;
    // A relationship target that names other from this part: relative to this part's folder.
    QString RelativeTo(const TznPartName& other) const;
    // The comparison key.
    QString Key() const { return FName.toLower(); }

    bool operator==(const TznPartName& other) const { return Key() == other.Key(); }

    // The part whose relationships this rels part holds: "/word/document.xml" for
    // "/word/_rels/document.xml.rels", the package root for "/_rels/.rels"; empty when this
    // is no relationships part.
    TznPartName RelsSource() const;
    // The content-types part of every package: "/[Content_Types].xml".
    static TznPartName ContentTypesPart() { return TznPartName(QStringLiteral("/[Content_Types].xml")); }
    // The package itself as the source of relationships (its rels part is "/_rels/.rels").
    static TznPartName PackageRoot() { TznPartName p; p.FName = QStringLiteral("/"); return p; }

private:
    static QString Normalize(const QString& name);
    QString FName;
};
