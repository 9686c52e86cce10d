#pragma once

#include "netsdk/netsdk.h"

#include <cstdint>
#include <vector>

/// What the search makes of the SDK's answer buffer.
namespace SearchResults
{

constexpr int RecordSize = int(sizeof(SDK_CONFIG_NET_COMMON_V2));
constexpr int MaxRecords = 256;
constexpr int BufferSize = RecordSize * MaxRecords; // 143360

/// The sort key of an address: the 32-bit address in dotted order, so every IPv4 address has its own key.
uint64_t addressKey(const uint8_t ip[4]);

/// The answers to list, in ascending address-key order: records with an empty MAC text are dropped,
/// the later of two answers with the same MAC wins, and of answers with equal keys the one whose MAC
/// text sorts last stays. `length` is the byte count the SDK returned; it is clamped to the buffer.
std::vector<SDK_CONFIG_NET_COMMON_V2> select(const char *buffer, int bufferSize, int length);

} // namespace SearchResults
