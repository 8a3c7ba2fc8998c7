#pragma once

#include <QByteArray>
#include <QString>

#include <pugixml.hpp>

// Elements nested deeper than this make a part damaged: real documents stay far below
// it (a table in a table adds four levels), and every walk over a part stays bounded.
inline constexpr int MaxXmlDepth = 2000;

// Loads a part's XML so that whitespace-only text and the declaration survive; raises
// EznError naming the part when it is no well-formed XML, declares a document type,
// is larger than MaxXmlPartSize or nested deeper than MaxXmlDepth.
void LoadXml(pugi::xml_document& doc, const QByteArray& bytes, const QString& partName);
// The document as UTF-8 bytes exactly as it was read (no indentation added).
QByteArray SaveXml(const pugi::xml_document& doc);

// The local name of an element ("w:drawing" gives "drawing").
const char* LocalName(const pugi::xml_node& node);
// The namespace URI an element's prefix is bound to, looked up through its ancestors.
QString NamespaceOf(const pugi::xml_node& node);
// True when the element has this local name in this namespace.
bool IsElement(const pugi::xml_node& node, const char* ns, const char* local);
// The first child element with this local name in this namespace.
pugi::xml_node ChildElement(const pugi::xml_node& node, const char* ns, const char* local);
// The value of the attribute with this local name in this namespace (any prefix).
pugi::xml_attribute AttributeNs(const pugi::xml_node& node, const char* ns, const char* local);

namespace ZnNs {
inline constexpr const char* W = "http://schemas.openxmlformats.org/wordprocessingml/2006/main";
inline constexpr const char* WStrict = "http://purl.oclc.org/ooxml/wordprocessingml/main";
inline constexpr const char* WP = "http://schemas.openxmlformats.org/drawingml/2006/wordprocessingDrawing";
inline constexpr const char* A = "http://schemas.openxmlformats.org/drawingml/2006/main";
inline constexpr const char* Pic = "http://schemas.openxmlformats.org/drawingml/2006/picture";
inline constexpr const char* R = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
inline constexpr const char* MC = "http://schemas.openxmlformats.org/markup-compatibility/2006";
inline constexpr const char* PackageRels = "http://schemas.openxmlformats.org/package/2006/relationships";
inline constexpr const char* ContentTypes = "http://schemas.openxmlformats.org/package/2006/content-types";
}
