#include "cli/listing.h"

#include "cli/names.h"
#include "core/format.h"
#include "fs/filetime.h"
#include "fs/fs.h"

namespace qef {

namespace {

struct Attribute {
  uint16_t key;
  char letter;
  const char* word;
};
const Attribute kAttributes[] = {
    {kInfoReadOnly, 'R', "read-only"},
    {kInfoHidden, 'H', "hidden"},
    {kInfoSystem, 'S', "system"},
    {kInfoArchive, 'A', "archive"},
};

struct Time {
  uint16_t key;
  const char* word;
};
const Time kTimes[] = {{kInfoWritten, "modified"}, {kInfoCreated, "created"}, {kInfoAccessed, "accessed"}};

// A stored time, or 0 when the item has none.
uint64_t TimeOf(const PropertyList& info, uint16_t key) {
  Value v = info.GetValue(key);
  return v.IsBlobOf(8) ? GetFileTimeBytes(v.GetBytes()) : 0;
}

Text PathOf(const ListedItem& item) {
  Text path = Text::Concat(item.folder, item.name);
  if (item.kind == 1) path.AppendChar('/');
  return path;
}

}  // namespace

// Days since 1970 to a civil date, by the era arithmetic of the proleptic Gregorian
// calendar (400-year eras of 146,097 days, years counted from March).
Text FormatFileTime(uint64_t filetime, bool iso) {
  int64_t seconds = 0, nanoseconds = 0;
  UnixFromFileTime(filetime, seconds, nanoseconds);
  int64_t days = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
  int64_t of_day = seconds - days * 86400;
  int64_t z = days + 719468;
  int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  int64_t doe = z - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  int64_t day = doy - (153 * mp + 2) / 5 + 1;
  int64_t month = mp < 10 ? mp + 3 : mp - 9;
  int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  Text t;
  t.Format(iso ? "%04ld-%02ld-%02ldT%02ld:%02ld:%02ldZ" : "%04ld-%02ld-%02ld %02ld:%02ld:%02ld",
           static_cast<long>(year), static_cast<long>(month), static_cast<long>(day), static_cast<long>(of_day / 3600),
           static_cast<long>(of_day / 60 % 60), static_cast<long>(of_day % 60));
  return t;
}

Text JsonString(const Text& utf8) {
  Text out("\"");
  for (int32_t i = 0; i < utf8.GetLength(); ++i) {
    unsigned char c = static_cast<unsigned char>(utf8.GetAt(i));
    if (c == '"' || c == '\\') {
      out.AppendChar('\\');
      out.AppendChar(static_cast<char>(c));
    } else if (c < 0x20 || c == 0x7F) {
      Text escape;
      escape.Format("\\u%04X", c);
      out.Append(escape);
    } else {
      out.AppendChar(static_cast<char>(c));
    }
  }
  out.AppendChar('"');
  return out;
}

Text AttributeLetters(const PropertyList& info) {
  Text letters;
  for (const Attribute& a : kAttributes) letters.AppendChar(info.GetByte(a.key, 0) != 0 ? a.letter : '-');
  return letters;
}

Text ListHeading() { return Text("Attr         Size  Modified (UTC)       Name"); }

Text ListLine(const ListedItem& item, const CodePage& page) {
  uint64_t written = TimeOf(item.info, kInfoWritten);
  Text size, line;
  if (item.kind == 0) size.Format("%lu", static_cast<unsigned long>(item.size));
  line.Format("%s %12s  %-19s  %s", AttributeLetters(item.info).Str(), size.Str(),
              written != 0 ? FormatFileTime(written, false).Str() : "", LocalDisplayName(PathOf(item), page).Str());
  if (item.refused) line.Append("  (refused: unsafe name, not extracted)");
  return line;
}

Text JsonItem(const ListedItem& item, const CodePage& page) {
  Text json;
  json.Format("{\"name\": %s, \"kind\": \"%s\", \"size\": %lu, \"attributes\": [",
              JsonString(Utf8ExactName(PathOf(item), page)).Str(), item.kind == 1 ? "folder" : "file",
              static_cast<unsigned long>(item.size));
  bool first = true;
  for (const Attribute& a : kAttributes) {
    if (item.info.GetByte(a.key, 0) == 0) continue;
    json.Append(first ? "\"" : ", \"");
    json.Append(a.word);
    json.AppendChar('"');
    first = false;
  }
  json.AppendChar(']');
  if (item.refused) json.Append(", \"refused\": \"unsafe name\"");
  for (const Time& t : kTimes) {
    uint64_t value = TimeOf(item.info, t.key);
    if (value == 0) continue;
    Text field;
    field.Format(", \"%s\": \"%s\"", t.word, FormatFileTime(value, true).Str());
    json.Append(field);
  }
  json.AppendChar('}');
  return json;
}

}  // namespace qef
