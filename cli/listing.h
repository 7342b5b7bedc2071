#pragma once
// How `qef list` shows the items of an archive: one line each for people, or JSON.
#include <cstdint>

#include "cli/codepage.h"
#include "core/text.h"
#include "core/value.h"

namespace qef {

// One item as the extraction engine reports it; names as stored.
struct ListedItem {
  int32_t kind = 0;      // 0 file, 1 folder
  bool refused = false;  // extraction would refuse its name
  uint32_t size = 0;
  Text folder;        // key 201
  Text name;          // key 200
  PropertyList info;  // key 300: attributes and times
};

// A FILETIME (100 ns ticks since 1601) in UTC: "2024-05-01 12:34:56", or with `iso`
// "2024-05-01T12:34:56Z". Whole seconds; times before 1601 do not occur in the format.
Text FormatFileTime(uint64_t filetime, bool iso);

// The text in double quotes with JSON's escapes (quote, backslash, control characters).
Text JsonString(const Text& utf8);

// "RHSA" with '-' for each attribute that is off: read-only, hidden, system, archive.
Text AttributeLetters(const PropertyList& info);

// Column titles, then one line per item (without line end): attributes, size, last
// write time, name (folders end in '/'). In the local code page.
Text ListHeading();
Text ListLine(const ListedItem& item, const CodePage& page);

// One JSON object per item (UTF-8): name, kind, size, attributes and the times present.
Text JsonItem(const ListedItem& item, const CodePage& page);

}  // namespace qef
