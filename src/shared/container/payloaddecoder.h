#pragma once

#include <cstddef>

namespace shared {

// Whether a method id has a decoder here. Ids the container admits but whose
// libraries are not available (ZPAQ, CSC, crush) do not.
bool isDecodableMethod(int method);

// The most output a payload of that length can possibly decode to, as far as
// the method bounds it: a stored payload is its own output, and DEFLATE never
// expands beyond 1032 bytes per byte. Other methods give SIZE_MAX.
std::size_t largestPossibleOutput(int method, std::size_t packedLength);

// Decodes one payload straight into output[0..capacity). On success produced
// holds the number of bytes written, never more than capacity. A payload that
// ends before its stream does, or that is damaged, fails.
bool decodePayload(int method, const char* payload, std::size_t packedLength, char* output,
                   std::size_t capacity, std::size_t& produced);

} // namespace shared
