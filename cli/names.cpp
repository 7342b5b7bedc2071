#include "cli/names.h"

#include "cli/console.h"
#include "container/writer.h"
#include "core/result.h"
#include "fs/path.h"

namespace qef {

namespace {

const uint32_t kUtf8CodePage = 65001;

CodePage Local() {
  CodePage page;
  page.number = LocalCodePage();
  return page;
}

bool SameAsLocal(const CodePage& page) { return page.raw || page.number == LocalCodePage(); }

int32_t Copy(const Text& from, Text& to) { return to.Assign(from) ? kOk : kOutOfMemory; }

}  // namespace

int32_t LocalToUtf8(const Text& local, Text& utf8, Text& message) { return ToUtf8(local, Local(), utf8, message); }

int32_t Utf8ToLocal(const Text& utf8, Text& local, Text& message) { return FromUtf8(utf8, Local(), local, message); }

int32_t ToStoredName(const Text& local, const CodePage& page, Text& stored, Text& message) {
  if (SameAsLocal(page)) return Copy(local, stored);
  Text utf8;
  int32_t r = LocalToUtf8(local, utf8, message);
  if (r == kOk) r = FromUtf8(utf8, page, stored, message);
  return r;
}

int32_t ToLocalName(const Text& stored, const CodePage& page, Text& local, Text& message) {
  if (SameAsLocal(page)) return Copy(stored, local);
  Text utf8;
  int32_t r = ToUtf8(stored, page, utf8, message);
  if (r == kOk) r = Utf8ToLocal(utf8, local, message);
  return r;
}

// Each item's own name is checked; its folder part is made of the names of the folder
// items before it, which are checked as items themselves. A name is checked as typed
// and, in a double-byte code page, once more as stored: a character whose second byte
// is 0x5C would be stored as a '\\'.
int32_t StoreNames(PropertyList& content, const CodePage& page, Text& message, std::vector<Text>* every) {
  bool same = SameAsLocal(page);
  int32_t first = kOk;
  // Notes a refused name: the first ends the walk unless every one is asked for.
  auto refuse = [&](int32_t code, const Text& line) {
    if (first == kOk) {
      first = code;
      message = line;
    }
    if (every != nullptr) every->push_back(line);
    return every == nullptr;
  };
  for (int32_t i = 0; i < content.GetCount(); ++i) {
    FsItem* item = content.At(i).GetFsItem();
    if (item == nullptr) continue;
    Text path = Text::Concat(item->GetString(kItemFolder, ""), item->GetString(kItemName, ""));
    const char* reason = UnstorableNameReason(item->GetString(kItemName, ""));
    if (reason != nullptr) {
      Text line;
      line.Format("the name \"%s\" cannot be stored: %s", Escaped(path, false).Str(), reason);
      if (refuse(kBadArgument, line)) return first;
      continue;
    }
    if (same) continue;
    for (uint16_t key : {kItemName, kItemFolder}) {
      Text stored, why;
      int32_t r = ToStoredName(item->GetString(key, ""), page, stored, why);
      if (r == kOk && key == kItemName && stored.Find('\\') >= 0) {
        why.Format(
            "in code page %lu a character of it ends in the byte of '\\', which every reader takes for a "
            "folder separator",
            static_cast<unsigned long>(page.number));
        r = kBadArgument;
      }
      if (r != kOk) {
        // A folder part that does not convert is its folder's name, already told.
        Text line;
        line.Format("the name \"%s\" cannot be stored: %s", Escaped(path, false).Str(), why.Str());
        if (key == kItemFolder && first != kOk && every != nullptr) break;
        if (refuse(r, line)) return first;
        break;
      }
      if (!item->PutString(key, stored.Str(), 1)) return kOutOfMemory;
    }
  }
  return first;
}

void NameMapping::Install(ExtractOptions& options) {
  if (SameAsLocal(page_)) return;
  options.name_mapper = &NameMapping::Map;
  options.name_mapper_user = this;
}

bool NameMapping::Map(const Text& stored, Text& on_disk, void* self) {
  NameMapping& mapping = *static_cast<NameMapping*>(self);
  Text why;
  if (ToLocalName(stored, mapping.page_, on_disk, why) == kOk) return true;
  if (mapping.refusal_.IsEmpty())
    mapping.refusal_.Format("the stored name \"%s\" cannot be written here: %s; --codepage raw keeps its bytes",
                            Escaped(stored, true).Str(), why.Str());
  return false;
}

Text Escaped(const Text& text, bool escape_high) {
  Text out;
  for (int32_t i = 0; i < text.GetLength(); ++i) {
    unsigned char c = static_cast<unsigned char>(text.GetAt(i));
    if (c < 0x20 || c == 0x7F || (escape_high && c >= 0x80)) {
      Text hex;
      hex.Format("\\x%02X", c);
      out.Append(hex);
    } else {
      out.AppendChar(static_cast<char>(c));
    }
  }
  return out;
}

Text LocalDisplayName(const Text& stored, const CodePage& page) {
  Text local, why;
  if (ToLocalName(stored, page, local, why) == kOk) return Escaped(local, false);
  return Escaped(stored, true);
}

namespace {

Text Utf8Name(const Text& stored, const CodePage& page, bool escape_controls) {
  CodePage from = page;
  if (from.raw) from = CodePage{false, kUtf8CodePage};  // raw names are shown as UTF-8 when they are
  Text utf8, why;
  if (ToUtf8(stored, from, utf8, why) == kOk) return escape_controls ? Escaped(utf8, false) : utf8;
  return Escaped(stored, true);
}

}  // namespace

Text Utf8DisplayName(const Text& stored, const CodePage& page) { return Utf8Name(stored, page, true); }

Text Utf8ExactName(const Text& stored, const CodePage& page) { return Utf8Name(stored, page, false); }

}  // namespace qef
