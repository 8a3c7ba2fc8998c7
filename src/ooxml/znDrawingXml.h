#pragma once

#include "package/znXml.h"

#include <QString>

#include <cstring>

// Names and small readers the units of the drawing index, the picture facts,
// the frame paste and the fallback copies share.
namespace ZnDrawingXml {

inline constexpr const char* kUriPicture = "http://schemas.openxmlformats.org/drawingml/2006/picture";
inline constexpr const char* kUriChart = "http://schemas.openxmlformats.org/drawingml/2006/chart";
inline constexpr const char* kUriChartEx = "http://schemas.microsoft.com/office/drawing/2014/chartex";
inline constexpr const char* kUriDiagram = "http://schemas.openxmlformats.org/drawingml/2006/diagram";
inline constexpr const char* kUriLockedCanvas = "http://schemas.openxmlformats.org/drawingml/2006/lockedCanvas";
inline constexpr const char* kUriCanvas = "http://schemas.microsoft.com/office/word/2010/wordprocessingCanvas";
inline constexpr const char* kUriGroup = "http://schemas.microsoft.com/office/word/2010/wordprocessingGroup";
inline constexpr const char* kUriShape = "http://schemas.microsoft.com/office/word/2010/wordprocessingShape";
inline constexpr const char* kUriVml = "urn:schemas-microsoft-com:vml";
inline constexpr const char* kUriOffice = "urn:schemas-microsoft-com:office:office";
// The crop attributes of a VML picture, in the order left, top, right, bottom.
inline constexpr const char* kVmlCrops[4] = {"cropleft", "croptop", "cropright", "cropbottom"};

// An attribute's value as text.
inline QString text(const pugi::xml_attribute& a) { return QString::fromUtf8(a.value()); }
// Text made safe inside an XML attribute or element.
inline QString xmlEscape(const QString& s) { return s.toHtmlEscaped(); }
// True when an element below node has this local name.
inline bool hasDescendant(const pugi::xml_node& node, const char* local)
{
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling())
        if (child.type() == pugi::node_element && (std::strcmp(LocalName(child), local) == 0 || hasDescendant(child, local)))
            return true;
    return false;
}

} // namespace ZnDrawingXml
