#pragma once
// Names and texts between this machine and an archive. An archive stores its item
// names and texts in a Windows code page, because the stub shows and creates them
// with the system's 8-bit calls; this machine's file names and command-line texts are
// in the local code page (console.h's LocalCodePage: UTF-8 on POSIX, the ANSI code
// page on Windows). With --codepage raw, or when both are the same, bytes pass as
// they are.
#include <cstdint>
#include <vector>

#include "cli/codepage.h"
#include "container/engine.h"
#include "core/text.h"
#include "core/value.h"

namespace qef {

// Local text to UTF-8 and back. 0, or the code and message of codepage.h.
int32_t LocalToUtf8(const Text& local, Text& utf8, Text& message);
int32_t Utf8ToLocal(const Text& utf8, Text& local, Text& message);

// A local name as the archive stores it, and back. 0, or the code and message of
// codepage.h (kBadArgument for a character that does not convert).
int32_t ToStoredName(const Text& local, const CodePage& page, Text& stored, Text& message);
int32_t ToLocalName(const Text& stored, const CodePage& page, Text& local, Text& message);

// Rewrites the name and folder part (keys 200 and 201) of every item of a collected
// content list into the archive's code page; the items keep their source paths. A
// name that some reader could not restore under that name (fs/path.h's
// UnstorableNameReason, or a '\' that only the code page conversion makes) is
// refused. 0, or kBadArgument (or kUnsupported) with a message that names the item
// and the reason. With `every` given the walk goes on after a refusal, and every
// refused name's message goes there (the first is also in `message`).
int32_t StoreNames(PropertyList& content, const CodePage& page, Text& message, std::vector<Text>* every = nullptr);

// Turns stored names back into local names while extracting.
class NameMapping {
 public:
  explicit NameMapping(const CodePage& page) : page_(page) {}
  NameMapping(const NameMapping&) = delete;
  NameMapping& operator=(const NameMapping&) = delete;

  // Sets the options' mapper when names need converting at all.
  void Install(ExtractOptions& options);
  // Why the run ended with 240 when a name did not convert; empty when none failed.
  const Text& Refusal() const { return refusal_; }

 private:
  static bool Map(const Text& stored, Text& on_disk, void* self);

  CodePage page_;
  Text refusal_;
};

// Bytes a person can read safely on a terminal: control characters, and with
// `escape_high` every byte from 0x80, become \xNN.
Text Escaped(const Text& text, bool escape_high);

// A stored name for the terminal (local code page) or for JSON (UTF-8). Bytes that do
// not convert are shown as \xNN; control characters always are.
Text LocalDisplayName(const Text& stored, const CodePage& page);
Text Utf8DisplayName(const Text& stored, const CodePage& page);
// A stored name in UTF-8 exactly as extraction creates it, control characters too
// (JSON escapes those itself); only bytes that do not convert are shown as \xNN.
Text Utf8ExactName(const Text& stored, const CodePage& page);

}  // namespace qef
