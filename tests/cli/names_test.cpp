#include "cli/names.h"

#include <gtest/gtest.h>

#include <string>

#include "cli/console.h"
#include "container/writer.h"
#include "core/result.h"

namespace qef {
namespace {

CodePage Page(uint32_t number) {
  CodePage p;
  p.number = number;
  return p;
}

CodePage Raw() {
  CodePage p;
  p.raw = true;
  return p;
}

// The local form of a UTF-8 name (the ANSI code page on Windows).
Text Local(const char* utf8) {
  Text local, message;
  EXPECT_EQ(Utf8ToLocal(utf8, local, message), kOk) << message.Str();
  return local;
}

void AddItem(PropertyList& content, const Text& folder, const Text& name, const char* source) {
  Value v;
  v.SetType(kFsItem);
  FsItem* item = v.GetFsItem();
  item->PutByte(kItemKind, 0, 1);
  item->PutString(kItemName, name.Str(), 1);
  item->PutString(kItemFolder, folder.Str(), 1);
  item->SetSourcePath(source);
  content.Append(v);
}

TEST(Names, StoredInTheArchivesCodePageWithTheirSourcesKept) {
  PropertyList content;
  AddItem(content,
          Local("S\xC3\xBC"
                "d/"),
          Local("Gr\xC3\xBC\xC3\x9F"
                "e.txt"),
          "/src/S\xC3\xBC"
          "d/x");
  Text message;
  ASSERT_EQ(StoreNames(content, Page(1252), message), kOk) << message.Str();
  const FsItem* item = content.At(0).GetFsItem();
  EXPECT_STREQ(item->GetString(kItemFolder, "").Str(),
               "S\xFC"
               "d/");
  EXPECT_STREQ(item->GetString(kItemName, "").Str(),
               "Gr\xFC\xDF"
               "e.txt");
  EXPECT_STREQ(item->GetSourcePath().Str(),
               "/src/S\xC3\xBC"
               "d/x");

  // Back the other way, as extraction maps them.
  NameMapping mapping(Page(1252));
  ExtractOptions options;
  mapping.Install(options);
  Text on_disk = item->GetString(kItemName, "");
  if (options.name_mapper != nullptr) {  // none where the local code page is 1252
    ASSERT_TRUE(options.name_mapper(item->GetString(kItemName, ""), on_disk, options.name_mapper_user));
  }
  EXPECT_STREQ(on_disk.Str(), Local("Gr\xC3\xBC\xC3\x9F"
                                    "e.txt")
                                  .Str());
}

TEST(Names, ANameTheCodePageCannotHoldIsRefusedAndNamed) {
  if (LocalCodePage() != 65001) GTEST_SKIP() << "the name cannot exist in this system's code page";
  PropertyList content;
  AddItem(content, "docs/", "ok.txt", "/a");
  AddItem(content, "docs/", "\xCE\xA9mega.txt", "/b");  // U+03A9 is not in code page 1252
  Text message;
  EXPECT_EQ(StoreNames(content, Page(1252), message), kBadArgument);
  EXPECT_NE(std::string(message.Str()).find("docs/\xCE\xA9mega.txt"), std::string::npos) << message.Str();
  EXPECT_NE(std::string(message.Str()).find("U+03A9"), std::string::npos) << message.Str();
}

TEST(Names, RawAndTheLocalCodePageLeaveBytesAlone) {
  for (CodePage page : {Raw(), Page(LocalCodePage())}) {
    PropertyList content;
    AddItem(content, "",
            "\xFF"
            "odd~",
            "/a");
    Text message;
    ASSERT_EQ(StoreNames(content, page, message), kOk);
    EXPECT_STREQ(content.At(0).GetFsItem()->GetString(kItemName, "").Str(),
                 "\xFF"
                 "odd~");
    NameMapping mapping(page);
    ExtractOptions options;
    mapping.Install(options);
    EXPECT_EQ(options.name_mapper, nullptr);
  }
}

// Names that some reader would restore under another name, or not at all, are refused
// before anything is written, with the item and the reason; in every code page.
TEST(Names, NamesNoReaderCanRestoreAreRefused) {
  struct Case {
    const char* name;
    const char* reason;  // a part of the message
  } cases[] = {
      {"aux.c", "device"},
      {"CON", "device"},
      {"nul.tar.gz", "device"},
      {"com1", "device"},
      {"a\\b.txt", "separator"},
      {"what?.txt", "Windows refuses"},
      {"a:b", "Windows refuses"},
      {"s*", "Windows refuses"},
      {"q\"", "Windows refuses"},
      {"p|q", "Windows refuses"},
      {"<x>", "Windows refuses"},
      {"tab\there", "control"},
      {"bell\x07", "control"},
      {"del\x7F", "control"},
      {"end.", "dot or a blank"},
      {"end ", "dot or a blank"},
      {"..", "place"},
      {".", "place"},
  };
  for (CodePage page : {Raw(), Page(1252), Page(LocalCodePage())}) {
    for (const Case& c : cases) {
      PropertyList content;
      AddItem(content, "", "fine.txt", "/a");
      AddItem(content, "docs/", c.name, "/b");
      Text message;
      EXPECT_EQ(StoreNames(content, page, message), kBadArgument) << c.name;
      std::string m = message.Str();
      EXPECT_NE(m.find(std::string("docs/") + Escaped(c.name, false).Str()), std::string::npos) << m;
      EXPECT_NE(m.find(c.reason), std::string::npos) << m;
    }
  }
  PropertyList fine;
  for (const char* name : {"CONSOLE", "..name", ".profile", "a b.txt", "COM10"}) AddItem(fine, "", name, "/a");
  Text message;
  EXPECT_EQ(StoreNames(fine, Page(1252), message), kOk) << message.Str();
}

// In the double-byte code pages some characters end in the byte of '\\' (Shift-JIS
// U+30BD is 83 5C, U+8868 is 95 5C): stored, every reader would split the name there.
TEST(Names, ADoubleByteCharacterEndingInTheBackslashByteIsRefused) {
  if (LocalCodePage() != 65001) GTEST_SKIP() << "the names are typed as UTF-8 here";
  for (const char* name : {"\xE3\x82\xBD.txt", "\xE8\xA1\xA8"}) {
    PropertyList content;
    AddItem(content, "", name, "/a");
    Text message;
    EXPECT_EQ(StoreNames(content, Page(932), message), kBadArgument) << name;
    EXPECT_NE(std::string(message.Str()).find("code page 932"), std::string::npos) << message.Str();
  }
  PropertyList content;
  AddItem(content, "", "\xE3\x81\x82.txt", "/a");  // U+3042 is 82 A0: no backslash byte
  Text message;
  EXPECT_EQ(StoreNames(content, Page(932), message), kOk) << message.Str();
}

// A stored name that is not text in its code page (a lone Shift-JIS lead byte) stops
// the run, and the refusal says which name and how to keep its bytes.
TEST(Names, MappingRefusesBytesThatAreNotText) {
  NameMapping mapping(Page(932));
  ExtractOptions options;
  mapping.Install(options);
  ASSERT_NE(options.name_mapper, nullptr);
  Text on_disk;
  EXPECT_FALSE(options.name_mapper("bad\x81", on_disk, options.name_mapper_user));
  EXPECT_NE(std::string(mapping.Refusal().Str()).find("bad\\x81"), std::string::npos) << mapping.Refusal().Str();
  EXPECT_NE(std::string(mapping.Refusal().Str()).find("--codepage raw"), std::string::npos);
}

TEST(Names, DisplayNamesNeverCarryControlCharacters) {
  struct Case {
    const char* stored;
    CodePage page;
    const char* utf8;
  } cases[] = {
      {"Gr\xFC\xDF"
       "e.txt",
       Page(1252),
       "Gr\xC3\xBC\xC3\x9F"
       "e.txt"},
      {"esc\x1B[31m", Page(1252), "esc\\x1B[31m"},
      {"tab\there", Raw(), "tab\\x09here"},
      {"\xC3\xA4", Raw(), "\xC3\xA4"},  // raw names that are UTF-8 show as such
      {"\xFF"
       "x",
       Raw(), "\\xFFx"},  // and those that are not, as bytes
      {"bad\x81", Page(932), "bad\\x81"},
  };
  for (const Case& c : cases) EXPECT_STREQ(Utf8DisplayName(c.stored, c.page).Str(), c.utf8) << c.stored;
  EXPECT_STREQ(Escaped("a\x7F\xE4", true).Str(), "a\\x7F\\xE4");
}

}  // namespace
}  // namespace qef
