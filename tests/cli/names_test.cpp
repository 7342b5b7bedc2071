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
  AddItem(content, Local("S\xC3\xBC" "d/"), Local("Gr\xC3\xBC\xC3\x9F" "e.txt"), "/src/S\xC3\xBC" "d/x");
  Text message;
  ASSERT_EQ(StoreNames(content, Page(1252), message), kOk) << message.Str();
  const FsItem* item = content.At(0).GetFsItem();
  EXPECT_STREQ(item->GetString(kItemFolder, "").Str(), "S\xFC" "d/");
  EXPECT_STREQ(item->GetString(kItemName, "").Str(), "Gr\xFC\xDF" "e.txt");
  EXPECT_STREQ(item->GetSourcePath().Str(), "/src/S\xC3\xBC" "d/x");

  // Back the other way, as extraction maps them.
  NameMapping mapping(Page(1252));
  ExtractOptions options;
  mapping.Install(options);
  Text on_disk = item->GetString(kItemName, "");
  if (options.name_mapper != nullptr) {  // none where the local code page is 1252
    ASSERT_TRUE(options.name_mapper(item->GetString(kItemName, ""), on_disk, options.name_mapper_user));
  }
  EXPECT_STREQ(on_disk.Str(), Local("Gr\xC3\xBC\xC3\x9F" "e.txt").Str());
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
    AddItem(content, "", "\xFF\x01odd", "/a");
    Text message;
    ASSERT_EQ(StoreNames(content, page, message), kOk);
    EXPECT_STREQ(content.At(0).GetFsItem()->GetString(kItemName, "").Str(), "\xFF\x01odd");
    NameMapping mapping(page);
    ExtractOptions options;
    mapping.Install(options);
    EXPECT_EQ(options.name_mapper, nullptr);
  }
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
      {"Gr\xFC\xDF" "e.txt", Page(1252), "Gr\xC3\xBC\xC3\x9F" "e.txt"},
      {"esc\x1B[31m", Page(1252), "esc\\x1B[31m"},
      {"tab\there", Raw(), "tab\\x09here"},
      {"\xC3\xA4", Raw(), "\xC3\xA4"},     // raw names that are UTF-8 show as such
      {"\xFF" "x", Raw(), "\\xFFx"},       // and those that are not, as bytes
      {"bad\x81", Page(932), "bad\\x81"},
  };
  for (const Case& c : cases) EXPECT_STREQ(Utf8DisplayName(c.stored, c.page).Str(), c.utf8) << c.stored;
  EXPECT_STREQ(Escaped("a\x7F\xE4", true).Str(), "a\\x7F\\xE4");
}

}  // namespace
}  // namespace qef
