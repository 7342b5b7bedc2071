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

// Records that hold records (lists, items) nest at most this deep, counted together;
// a deeper record is refused with 101, as memory that cannot be had.
const int32_t kMaxNesting = 64;

// Writes the record on a writing stream, or replaces the value by the record read from
// a reading stream. Answers the stream's error code. Sizes and counts read from the
// stream are never trusted: storage grows only with what actually arrives, and what
// cannot be had ends the read with 101. Items (FsItem) are read and written by the
// item reader and writer only: here one is refused, 1 when read, 30 when written.
int32_t SerialiseValue(Value& value, Stream& stream);

// Reads a record that must be a List (an item's properties): any other tag is refused
// with 1 before its payload is read.
int32_t ReadListRecord(Value& list, Stream& stream);

// Reads the payload of a record whose tag, key and length have been read, for any tag
// but List and FsItem (records that hold records). The stream's error code.
// A string or byte block longer than `most` is refused with 101 before it is read.
int32_t ReadPayload(Value& value, uint16_t tag, uint16_t key, uint32_t length, Stream& stream,
                    uint32_t most = 0xFFFFFFFFu);

// How many bytes SerialiseValue would write, measured in a counting stream.
uint32_t RecordSize(const Value& value);

}  // namespace qef
