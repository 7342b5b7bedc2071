#pragma once
// Value records: the on-disk form of a typed value. Every integer is little-endian.
//   offset 0: type tag (2)   2: key (2)   4: payload length (4)   8: payload
// A List's payload is a 4-byte item count and the item records; a String's is a
// counted string; an FsItem's is its nested property list and, for a file, its data.
// Serialising looks at the stream's direction, so one function writes and reads.
#include <cstdint>

#include "core/stream.h"
#include "core/value.h"

namespace qef {

// Writes the record on a writing stream, or replaces the value by the record read from
// a reading stream. Answers the stream's error code. Sizes and counts read from the
// stream are never trusted: storage grows only with what actually arrives, and what
// cannot be had ends the read with 101.
int32_t SerialiseValue(Value& value, Stream& stream);

// Reads a record that must be a List (an item's properties): any other tag is refused
// with 1 before its payload is read.
int32_t ReadListRecord(Value& list, Stream& stream);

// How many bytes SerialiseValue would write, measured in a counting stream with the
// given parameters (count-only set, so file items add their size without being read).
uint32_t RecordSize(const Value& value, const StreamParams* params);

}  // namespace qef
