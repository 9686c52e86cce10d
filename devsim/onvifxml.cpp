#include "onvifxml.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlwriter.h>

#include <cstring>

namespace devsim
{

namespace ns
{
const char *const kSoapEnv = "http://www.w3.org/2003/05/soap-envelope";
const char *const kDevice = "http://www.onvif.org/ver10/device/wsdl";
const char *const kSchema = "http://www.onvif.org/ver10/schema";
const char *const kNetwork = "http://www.onvif.org/ver10/network/wsdl";
const char *const kError = "http://www.onvif.org/ver10/error";
const char *const kDiscovery = "http://schemas.xmlsoap.org/ws/2005/04/discovery";
const char *const kAddressing = "http://schemas.xmlsoap.org/ws/2004/08/addressing";
const char *const kWsse = "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-wssecurity-secext-1.0.xsd";
const char *const kWsu = "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-wssecurity-utility-1.0.xsd";
const char *const kXop = "http://www.w3.org/2004/08/xop/include";
} // namespace ns

const XmlNode *XmlNode::child(const std::string &local, const char *nsUri) const
{
    for (const XmlNode &c : children)
        if (c.name == local && (!nsUri || c.ns == nsUri))
            return &c;
    return nullptr;
}

const XmlNode *XmlNode::find(std::initializer_list<const char *> path) const
{
    const XmlNode *n = this;
    for (const char *step : path) {
        n = n->child(step);
        if (!n)
            return nullptr;
    }
    return n;
}

std::string XmlNode::textAt(std::initializer_list<const char *> path) const
{
    const XmlNode *n = find(path);
    return n ? n->text : std::string();
}

namespace
{

std::string str(const xmlChar *s)
{
    return s ? std::string(reinterpret_cast<const char *>(s)) : std::string();
}

void silentErrors(void *, const char *, ...) {}

struct Builder {
    size_t nodes = 0;
    std::string error;

    bool build(xmlDocPtr doc, xmlNodePtr in, XmlNode &out, int depth)
    {
        if (depth > kMaxXmlDepth) {
            error = "elements nested too deep";
            return false;
        }
        if (++nodes > kMaxXmlNodes) {
            error = "too many elements";
            return false;
        }
        out.name = str(in->name);
        out.ns = in->ns ? str(in->ns->href) : std::string();
        for (xmlAttrPtr a = in->properties; a; a = a->next) {
            xmlChar *v = xmlNodeListGetString(doc, a->children, 1);
            out.attributes[str(a->name)] = str(v);
            xmlFree(v);
        }
        bool leaf = true;
        for (xmlNodePtr c = in->children; c; c = c->next) {
            if (c->type == XML_ELEMENT_NODE) {
                leaf = false;
                out.children.emplace_back();
                if (!build(doc, c, out.children.back(), depth + 1))
                    return false;
            } else if (c->type == XML_TEXT_NODE || c->type == XML_CDATA_SECTION_NODE) {
                out.text += str(c->content);
            }
        }
        if (leaf) {
            // Only leaves carry QNames in their text; keeping the scope for every element would
            // cost a hostile document's size squared.
            xmlNsPtr *list = xmlGetNsList(doc, in);
            for (xmlNsPtr *p = list; p && *p; ++p)
                out.scope.emplace((*p)->prefix ? str((*p)->prefix) : std::string(), str((*p)->href));
            xmlFree(list);
        }
        // Surrounding white space of a value is layout, not content.
        const size_t b = out.text.find_first_not_of(" \t\r\n");
        const size_t e = out.text.find_last_not_of(" \t\r\n");
        out.text = b == std::string::npos ? std::string() : out.text.substr(b, e - b + 1);
        return true;
    }
};

} // namespace

bool parseXml(const char *data, size_t size, XmlNode *root, std::string *error)
{
    if (size > kMaxSoapBytes) {
        *error = "message too large";
        return false;
    }
    if (size == 0) {
        *error = "empty message";
        return false;
    }
    // Errors are reported through the return value; libxml2 must not print what a client sent.
    xmlSetGenericErrorFunc(nullptr, silentErrors);
    // No entity substitution, no DTD loading, no network: a message is data, never a fetch.
    const int options = XML_PARSE_NONET | XML_PARSE_NOBLANKS | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
    xmlDocPtr doc = xmlReadMemory(data, int(size), "message.xml", nullptr, options);
    if (!doc) {
        *error = "not well-formed XML";
        return false;
    }
    bool ok = true;
    if (doc->intSubset || doc->extSubset) {
        *error = "a document type declaration is not accepted";
        ok = false;
    }
    xmlNodePtr top = xmlDocGetRootElement(doc);
    if (ok && !top) {
        *error = "no root element";
        ok = false;
    }
    if (ok) {
        Builder b;
        *root = XmlNode();
        ok = b.build(doc, top, *root, 0);
        if (!ok)
            *error = b.error;
    }
    xmlFreeDoc(doc);
    return ok;
}

bool parseSoap(const char *data, size_t size, SoapRequest *request, std::string *error)
{
    XmlNode env;
    if (!parseXml(data, size, &env, error))
        return false;
    if (env.name != "Envelope" || env.ns != ns::kSoapEnv) {
        *error = env.name == "Envelope" ? "not a SOAP 1.2 envelope" : "not a SOAP envelope";
        return false;
    }
    *request = SoapRequest();
    const XmlNode *header = env.child("Header", ns::kSoapEnv);
    if (header) {
        const XmlNode *sec = header->child("Security", ns::kWsse);
        const XmlNode *tok = sec ? sec->child("UsernameToken", ns::kWsse) : nullptr;
        if (tok) {
            UsernameToken &t = request->token;
            t.present = true;
            t.user = tok->textAt({"Username"});
            if (const XmlNode *pw = tok->child("Password", ns::kWsse)) {
                t.password = pw->text;
                auto it = pw->attributes.find("Type");
                if (it != pw->attributes.end())
                    t.passwordType = it->second;
            }
            t.nonce = tok->textAt({"Nonce"});
            const XmlNode *created = tok->child("Created", ns::kWsu);
            t.created = created ? created->text : std::string();
        }
        if (const XmlNode *id = header->child("MessageID"))
            request->messageId = id->text;
    }
    const XmlNode *body = env.child("Body", ns::kSoapEnv);
    if (!body || body->children.empty()) {
        *error = "no operation in the SOAP body";
        return false;
    }
    request->operation = body->children.front();
    return true;
}

struct XmlWriter::Impl {
    xmlBufferPtr buffer = nullptr;
    xmlTextWriterPtr writer = nullptr;
};

XmlWriter::XmlWriter() : d(new Impl)
{
    d->buffer = xmlBufferCreate();
    d->writer = xmlNewTextWriterMemory(d->buffer, 0);
    xmlTextWriterStartDocument(d->writer, nullptr, "UTF-8", nullptr);
}

XmlWriter::~XmlWriter()
{
    if (d->writer)
        xmlFreeTextWriter(d->writer);
    if (d->buffer)
        xmlBufferFree(d->buffer);
    delete d;
}

void XmlWriter::open(const std::string &qname, const std::map<std::string, std::string> &xmlns)
{
    xmlTextWriterStartElement(d->writer, BAD_CAST qname.c_str());
    for (const auto &n : xmlns)
        attribute("xmlns:" + n.first, n.second);
}

void XmlWriter::attribute(const std::string &qname, const std::string &value)
{
    xmlTextWriterWriteAttribute(d->writer, BAD_CAST qname.c_str(), BAD_CAST value.c_str());
}

void XmlWriter::text(const std::string &value)
{
    xmlTextWriterWriteString(d->writer, BAD_CAST value.c_str());
}

void XmlWriter::close()
{
    xmlTextWriterEndElement(d->writer);
}

void XmlWriter::element(const std::string &qname, const std::string &value)
{
    open(qname);
    text(value);
    close();
}

std::string XmlWriter::finish()
{
    xmlTextWriterEndDocument(d->writer);
    xmlFreeTextWriter(d->writer);
    d->writer = nullptr;
    return std::string(reinterpret_cast<const char *>(xmlBufferContent(d->buffer)),
                       size_t(xmlBufferLength(d->buffer)));
}

std::map<std::string, std::string> soapNamespaces()
{
    return {{"env", ns::kSoapEnv}, {"tds", ns::kDevice}, {"tt", ns::kSchema}, {"ter", ns::kError}};
}

} // namespace devsim
