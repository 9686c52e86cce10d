#pragma once

#include "onvifxml.h"

#include <string>
#include <vector>

namespace devsim
{

class Device;

/// A WS-Discovery Probe as received.
struct Probe {
    std::string messageId;
    /// The probed types, resolved: (namespace URI, local name).
    std::vector<std::pair<std::string, std::string>> types;
    std::vector<std::string> scopes;
};

/// Parses a Probe datagram (SOAP 1.2, WS-Discovery 2005/04); false for anything else (including
/// other discovery messages, which a device does not answer).
bool parseProbe(const char *data, size_t size, Probe *probe, std::string *error);

/// Whether a device of these types and scopes matches the probe (every probed type is one of the
/// device's; every probed scope is a prefix, on a segment boundary, of one of the device's).
bool probeMatches(const Probe &probe, const std::vector<std::string> &deviceScopes);

/// The scopes a device announces: type, hardware (its model), name (its manufacturer), location.
std::vector<std::string> deviceScopes(const Device &device);

/// The device's endpoint address, stable over restarts: "urn:uuid:..." built from its MAC.
std::string endpointAddress(const Device &device);

/// The ProbeMatches answer of one device that serves at xaddr.
std::string probeMatchesMessage(const Probe &probe, const Device &device, const std::string &xaddr);

} // namespace devsim
