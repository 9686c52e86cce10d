#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace devsim
{

/// Namespaces of the messages the ONVIF face reads and writes.
namespace ns
{
extern const char *const kSoapEnv;    ///< SOAP 1.2 envelope
extern const char *const kDevice;     ///< tds: device management
extern const char *const kSchema;     ///< tt: ONVIF types
extern const char *const kNetwork;    ///< dn: network (discovery types)
extern const char *const kError;      ///< ter: ONVIF fault subcodes
extern const char *const kDiscovery;  ///< d: WS-Discovery 2005/04
extern const char *const kAddressing; ///< wsa: WS-Addressing 2004/08 (as WS-Discovery uses it)
extern const char *const kWsse;       ///< wsse: WS-Security extensions
extern const char *const kWsu;        ///< wsu: WS-Security utility
extern const char *const kXop;        ///< xop: XML-binary optimized packaging
} // namespace ns

/// One element of a parsed message: its namespace and local name, the text directly inside it,
/// its attributes by local name and its child elements. A leaf also keeps the namespaces in scope
/// (prefix to URI), so a QName in its text (WS-Discovery's Types) can be resolved.
struct XmlNode {
    std::string ns, name, text;
    std::map<std::string, std::string> attributes;
    std::vector<XmlNode> children;
    std::map<std::string, std::string> scope;

    /// The first child of that local name (and namespace, when given); nullptr when none.
    const XmlNode *child(const std::string &local, const char *nsUri = nullptr) const;
    /// Follows a path of local names; nullptr when a step is missing.
    const XmlNode *find(std::initializer_list<const char *> path) const;
    /// The text at a path of local names; empty when missing.
    std::string textAt(std::initializer_list<const char *> path) const;
};

/// Limits that keep a hostile message from costing more than a real one.
constexpr size_t kMaxSoapBytes = 1u << 20;
constexpr int kMaxXmlDepth = 32;
constexpr size_t kMaxXmlNodes = 4096;

/// Parses an XML document received from the network: no DTD, no external entities, no network
/// access, within the limits above. Returns false with a reason on anything else.
bool parseXml(const char *data, size_t size, XmlNode *root, std::string *error);

/// The WS-Security UsernameToken of a request, as received.
struct UsernameToken {
    bool present = false;
    std::string user, password, passwordType, nonce, created;
};

/// A SOAP 1.2 request: the token in its header, and the first element of its body (the operation).
struct SoapRequest {
    UsernameToken token;
    XmlNode operation;
    /// WS-Addressing MessageID of the header (WS-Discovery answers relate to it).
    std::string messageId;
};

/// Parses a SOAP 1.2 envelope. False with a reason when it is not one (wrong root, no body
/// element, SOAP 1.1, malformed XML, over the limits).
bool parseSoap(const char *data, size_t size, SoapRequest *request, std::string *error);

/// Writes an XML document element by element; every text and attribute value is escaped by the
/// writer (libxml2's text writer), so nothing a client sent can change the document's structure.
class XmlWriter
{
public:
    XmlWriter();
    ~XmlWriter();
    XmlWriter(const XmlWriter &) = delete;
    XmlWriter &operator=(const XmlWriter &) = delete;

    /// Opens an element "prefix:name"; the namespace declarations of the root go in xmlns.
    void open(const std::string &qname, const std::map<std::string, std::string> &xmlns = {});
    void attribute(const std::string &qname, const std::string &value);
    void text(const std::string &value);
    void close();
    /// open + text + close.
    void element(const std::string &qname, const std::string &value);
    /// Closes whatever is open and returns the document.
    std::string finish();

private:
    struct Impl;
    Impl *d;
};

/// Namespace declarations every answer of the ONVIF face carries.
std::map<std::string, std::string> soapNamespaces();

} // namespace devsim
