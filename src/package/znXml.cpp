#include "package/znXml.h"

#include "package/znPackage.h"
#include "platform/znError.h"

#include <cstring>
#include <sstream>

void LoadXml(pugi::xml_document& doc, const QByteArray& bytes, const QString& partName)
{
    if (bytes.size() > MaxXmlPartSize)
        throw EznError(QStringLiteral("the part %1 holds %2 MB of XML, more than the %3 MB a part may have.")
                           .arg(partName)
                           .arg(bytes.size() >> 20)
                           .arg(MaxXmlPartSize >> 20));
    const auto result = doc.load_buffer(bytes.constData(), size_t(bytes.size()),
                                        pugi::parse_default | pugi::parse_declaration | pugi::parse_doctype
                                            | pugi::parse_ws_pcdata_single);
    if (!result)
        throw EznError(QStringLiteral("the part %1 is damaged: %2.").arg(partName, QString::fromUtf8(result.description())));
    // The parser reads a document type but never applies it: its entities
    // would come back as literal "&x;" text and the declaration would be
    // lost on save. Office documents may not carry one.
    for (pugi::xml_node node = doc.first_child(); node; node = node.next_sibling())
        if (node.type() == pugi::node_doctype)
            throw EznError(QStringLiteral("the part %1 declares a document type, which Office documents may not.").arg(partName));
    // The walks over a part's elements recurse and look namespaces up through the
    // ancestors: a bound on the depth keeps both from running away.
    struct TznDepthCheck : pugi::xml_tree_walker
    {
        bool TooDeep = false;
        bool for_each(pugi::xml_node&) override
        {
            TooDeep = depth() >= MaxXmlDepth;
            return !TooDeep;
        }
    } depthCheck;
    doc.traverse(depthCheck);
    if (depthCheck.TooDeep)
        throw EznError(QStringLiteral("the part %1 nests its elements more than %2 levels deep.").arg(partName).arg(MaxXmlDepth));
    // The bytes are written back as UTF-8, so the declaration must say so.
    pugi::xml_node decl = doc.first_child();
    if (decl.type() == pugi::node_declaration) {
        pugi::xml_attribute enc = decl.attribute("encoding");
        if (enc && QString::fromUtf8(enc.value()).compare(QLatin1String("UTF-8"), Qt::CaseInsensitive) != 0)
            enc.set_value("UTF-8");
    }
}

namespace {
struct TznByteWriter : pugi::xml_writer
{
    QByteArray Out;
    void write(const void* data, size_t size) override { Out.append(static_cast<const char*>(data), qsizetype(size)); }
};
} // namespace

QByteArray SaveXml(const pugi::xml_document& doc)
{
    TznByteWriter writer;
    doc.save(writer, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
    return writer.Out;
}

const char* LocalName(const pugi::xml_node& node)
{
    const char* name = node.name();
    const char* colon = std::strchr(name, ':');
    return colon ? colon + 1 : name;
}

namespace {
// The namespace URI bound to the prefix of len bytes (none: the default namespace) at node,
// looked up through its ancestors; null when it is bound nowhere. Works on the names'
// bytes: drawings are looked up by namespace many times per drawing.
const char* namespaceOfPrefix(pugi::xml_node node, const char* prefix, size_t len)
{
    for (; node; node = node.parent()) {
        if (node.type() != pugi::node_element)
            continue;
        for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
            const char* name = a.name();
            if (std::strncmp(name, "xmlns", 5) != 0)
                continue;
            if (len == 0 ? name[5] == 0
                         : name[5] == ':' && std::strncmp(name + 6, prefix, len) == 0 && name[6 + len] == 0)
                return a.value();
        }
    }
    return nullptr;
}

const char* namespaceOfElement(const pugi::xml_node& node)
{
    const char* name = node.name();
    const char* colon = std::strchr(name, ':');
    return colon ? namespaceOfPrefix(node, name, size_t(colon - name)) : namespaceOfPrefix(node, "", 0);
}
} // namespace

QString NamespaceOf(const pugi::xml_node& node)
{
    const char* uri = namespaceOfElement(node);
    return uri ? QString::fromUtf8(uri) : QString();
}

bool IsElement(const pugi::xml_node& node, const char* ns, const char* local)
{
    if (node.type() != pugi::node_element || std::strcmp(LocalName(node), local) != 0)
        return false;
    const char* uri = namespaceOfElement(node);
    if (!uri)
        return false;
    if (std::strcmp(uri, ns) == 0)
        return true;
    // Strict documents use other namespace names for the same vocabulary.
    return std::strcmp(ns, ZnNs::W) == 0 && std::strcmp(uri, ZnNs::WStrict) == 0;
}

pugi::xml_node ChildElement(const pugi::xml_node& node, const char* ns, const char* local)
{
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling())
        if (IsElement(child, ns, local))
            return child;
    return pugi::xml_node();
}

pugi::xml_attribute AttributeNs(const pugi::xml_node& node, const char* ns, const char* local)
{
    for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
        const char* name = a.name();
        const char* colon = std::strchr(name, ':');
        if (!colon || std::strcmp(colon + 1, local) != 0)
            continue;
        const char* uri = namespaceOfPrefix(node, name, size_t(colon - name));
        if (uri && std::strcmp(uri, ns) == 0)
            return a;
    }
    return pugi::xml_attribute();
}
