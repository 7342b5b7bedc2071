#include "sfx/pe_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "core/result.h"
#include "sfx/payload.h"
#include "tests/sfx/test_image.h"

namespace qef {
namespace {

using test::Bytes;
using test::Get16;
using test::Get32;
using test::Layout;
using test::LayoutOf;
using test::MakeTestImage;

Bytes SampleBlock(size_t container_size) {
  PayloadContent c;
  for (size_t i = 0; i < container_size; ++i) c.container.push_back(static_cast<unsigned char>(i * 7));
  c.info = {'h', 'i'};
  return BuildPayloadBlock(c);
}

struct SectionRow {
  uint32_t virtual_size, virtual_address, raw_size, raw_pointer, characteristics;
};

std::vector<SectionRow> SectionsOf(const Bytes& image) {
  Layout l = LayoutOf(image);
  std::vector<SectionRow> rows;
  for (uint32_t i = 0; i < l.section_count; ++i) {
    size_t s = l.Section(i);
    rows.push_back(
        {Get32(image, s + 8), Get32(image, s + 12), Get32(image, s + 16), Get32(image, s + 20), Get32(image, s + 36)});
  }
  return rows;
}

// The appended image as a loader sees it: sections follow each other without gaps,
// the new one is last at 0x35000, SizeOfImage covers it, data lies where it says.
TEST(PeImage, AppendsSectionAfterShortImage) {
  for (bool pe32_plus : {false, true}) {
    SCOPED_TRACE(pe32_plus ? "PE32+" : "PE32");
    test::TestImageShape shape;
    shape.pe32_plus = pe32_plus;
    shape.sections = 3;
    shape.last_virtual_size = 0x10;  // the image ends at 0x4000, well before 0x35000
    shape.overlay = 0x123;           // symbols after the last section
    const Bytes stub = MakeTestImage(shape);
    const Bytes block = SampleBlock(5000);
    Bytes image = stub;
    Text message;
    ASSERT_EQ(AppendPayloadSection(image, block, message), kOk) << message.Str();

    Layout l = LayoutOf(image);
    std::vector<SectionRow> rows = SectionsOf(image);
    ASSERT_EQ(rows.size(), 4u);
    for (size_t i = 0; i + 1 < rows.size(); ++i) {
      uint32_t end = (rows[i].virtual_address + std::max(rows[i].virtual_size, rows[i].raw_size) + 0xFFF) & ~0xFFFu;
      EXPECT_EQ(end, rows[i + 1].virtual_address) << "gap after section " << i;
    }
    const SectionRow& added = rows.back();
    EXPECT_EQ(added.virtual_address, kPayloadRva);
    EXPECT_EQ(added.virtual_size, block.size());
    EXPECT_EQ(added.raw_size, 0x1400u);  // 5046 bytes rounded up to 0x200
    EXPECT_EQ(added.characteristics, 0x40000040u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&image[l.Section(3)]), 8), ".payload");

    // The stub's bytes, its overlay included, stay where they were; the block follows
    // at the next file alignment and the file ends with the section.
    size_t stub_end = (stub.size() + 0x1FF) & ~size_t(0x1FF);
    EXPECT_EQ(added.raw_pointer, stub_end);
    EXPECT_EQ(image.size(), stub_end + added.raw_size);
    EXPECT_TRUE(std::equal(stub.begin() + 0x200, stub.end(), image.begin() + 0x200));
    EXPECT_TRUE(std::equal(block.begin(), block.end(), image.begin() + added.raw_pointer));

    EXPECT_EQ(Get32(image, l.optional_header + 56), kPayloadRva + 0x2000);  // SizeOfImage
    EXPECT_EQ(Get32(image, l.optional_header + 8), Get32(stub, l.optional_header + 8) + 0x1400);
    EXPECT_EQ(Get32(image, l.optional_header + 64), PeChecksum(image.data(), image.size()));
    EXPECT_NE(Get32(image, l.optional_header + 64), 0u);

    PeImageFacts facts;
    ASSERT_EQ(InspectPeImage(image.data(), image.size(), facts, message), kOk) << message.Str();
    EXPECT_TRUE(facts.has_payload_section);
    EXPECT_EQ(facts.stub_image_size, kPayloadRva);
    EXPECT_EQ(facts.stub_file_size, stub_end);
    EXPECT_EQ(facts.payload_size, block.size());
    EXPECT_EQ(facts.section_count, 4u);
    EXPECT_EQ(facts.image_base, pe32_plus ? 0x140000000u : 0x400000u);
    EXPECT_EQ(facts.pe32_plus, pe32_plus);
    EXPECT_EQ(facts.overlay_size, 0u);

    ASSERT_EQ(InspectPeImage(stub.data(), stub.size(), facts, message), kOk) << message.Str();
    EXPECT_FALSE(facts.has_payload_section);
    EXPECT_EQ(facts.stub_image_size, 0x4000u);
    EXPECT_EQ(facts.stub_file_size, stub.size());
    EXPECT_EQ(facts.overlay_size, 0x123u);
  }
}

TEST(PeImage, ImageEndingExactlyAtPayloadAddressIsKept) {
  test::TestImageShape shape;
  shape.last_virtual_size = 0x33000;  // second section 0x2000..0x35000
  Bytes image = MakeTestImage(shape);
  Text message;
  ASSERT_EQ(AppendPayloadSection(image, SampleBlock(10), message), kOk) << message.Str();
  std::vector<SectionRow> rows = SectionsOf(image);
  EXPECT_EQ(rows[1].virtual_size, 0x33000u);
  EXPECT_EQ(rows[2].virtual_address, kPayloadRva);
}

TEST(PeImage, BlockIsFoundInFileAndInMappedImage) {
  for (bool pe32_plus : {false, true}) {
    SCOPED_TRACE(pe32_plus ? "PE32+" : "PE32");
    test::TestImageShape shape;
    shape.pe32_plus = pe32_plus;
    const Bytes block = SampleBlock(700);
    Bytes image = MakeTestImage(shape);
    Text message;
    ASSERT_EQ(AppendPayloadSection(image, block, message), kOk) << message.Str();

    const unsigned char* data = nullptr;
    uint32_t length = 0;
    ASSERT_EQ(FindSectionInFile(image.data(), image.size(), kPayloadRva, &data, &length, message), kOk);
    EXPECT_EQ(Bytes(data, data + length), block);

    Bytes mapped = test::MapImage(image);
    ASSERT_EQ(FindSectionInMemory(mapped.data(), kPayloadRva, &data, &length), kOk);
    EXPECT_EQ(data, mapped.data() + kPayloadRva);
    EXPECT_EQ(Bytes(data, data + length), block);
    PayloadView view;
    ASSERT_EQ(ParsePayloadBlock(data, length, view), kOk);
    EXPECT_EQ(view.container_length, 700u);
    EXPECT_STREQ(view.info.Str(), "hi");

    // The unpatched stub has no such section, in the file or mapped.
    Bytes stub = MakeTestImage(shape);
    EXPECT_EQ(FindSectionInFile(stub.data(), stub.size(), kPayloadRva, &data, &length, message), kFailed);
    EXPECT_EQ(data, nullptr);
    Bytes stub_mapped = test::MapImage(stub);
    EXPECT_EQ(FindSectionInMemory(stub_mapped.data(), kPayloadRva, &data, &length), kFailed);
    EXPECT_EQ(FindSectionInMemory(stub_mapped.data(), 0x1000, &data, &length), kOk);
    EXPECT_EQ(length, 0x200u);
  }
}

TEST(PeImage, FindRefusesDamagedFiles) {
  Bytes image = MakeTestImage();
  Text message;
  ASSERT_EQ(AppendPayloadSection(image, SampleBlock(100), message), kOk);
  const unsigned char* data = nullptr;
  uint32_t length = 0;
  Bytes cut(image.begin(), image.end() - 1);  // the payload's data ends past the file
  EXPECT_EQ(FindSectionInFile(cut.data(), cut.size(), kPayloadRva, &data, &length, message), kShortRead);
  Bytes text(300, 'a');
  EXPECT_EQ(FindSectionInFile(text.data(), text.size(), kPayloadRva, &data, &length, message), kBadArgument);
  Bytes mapped = test::MapImage(image);
  mapped[0] = 0;
  EXPECT_EQ(FindSectionInMemory(mapped.data(), kPayloadRva, &data, &length), kBadArgument);
}

TEST(PeImage, RefusesUnsuitableStubs) {
  test::ExpectRefusals(MakeTestImage());
  test::TestImageShape wide;
  wide.pe32_plus = true;
  test::ExpectRefusals(MakeTestImage(wide));
}

TEST(PeImage, RefusesEmptyBlockAndClearsCertificate) {
  for (bool pe32_plus : {false, true}) {
    SCOPED_TRACE(pe32_plus ? "PE32+" : "PE32");
    Bytes image = MakeTestImage(test::TestImageShape{2, 0x200, 0x80, pe32_plus});
    Layout l = LayoutOf(image);
    const size_t certificate = l.optional_header + (pe32_plus ? 112 : 96) + size_t{4} * 8;
    test::Put32(image, certificate, 0x600);  // a signature in the overlay
    test::Put32(image, certificate + 4, 0x80);
    Text message;
    Bytes before = image;
    EXPECT_EQ(AppendPayloadSection(image, Bytes(), message), kBadArgument);
    EXPECT_EQ(image, before);
    ASSERT_EQ(AppendPayloadSection(image, SampleBlock(1), message), kOk);
    EXPECT_EQ(Get32(image, certificate), 0u);
    EXPECT_EQ(Get32(image, certificate + 4), 0u);
  }
}

TEST(PeImage, ChecksumSkipsItsOwnField) {
  Bytes image = MakeTestImage();
  Layout l = LayoutOf(image);
  uint32_t sum = PeChecksum(image.data(), image.size());
  test::Put32(image, l.optional_header + 64, 0xDEADBEEF);
  EXPECT_EQ(PeChecksum(image.data(), image.size()), sum);
  image.push_back(0x01);  // an odd length counts its last byte as a low half word
  EXPECT_EQ(PeChecksum(image.data(), image.size()), sum + 1 + 1);
  Bytes text(100, 'a');
  EXPECT_EQ(PeChecksum(text.data(), text.size()), 0u);
}

// A program written in pieces (image, block head, container, tail, padding) is summed
// in pieces of any length, odd ones included, to the sum of the whole; the steps of
// AppendPayloadSection give the same file as the single call.
TEST(PeImage, ChecksumAndAppendInPieces) {
  PayloadContent content;
  content.container = Bytes(1001, 0x5A);
  content.info = {'h', 'i'};
  content.picture = Bytes(77, 0x42);
  Bytes block = BuildPayloadBlock(content);
  Bytes whole = MakeTestImage();
  Text message;
  ASSERT_EQ(AppendPayloadSection(whole, block, message), kOk) << message.Str();

  Bytes head, tail;
  ASSERT_TRUE(BuildPayloadParts(content, content.container.size(), head, tail));
  Bytes joined = head;
  joined.insert(joined.end(), content.container.begin(), content.container.end());
  joined.insert(joined.end(), tail.begin(), tail.end());
  EXPECT_EQ(joined, block);

  Bytes image = MakeTestImage();
  uint32_t padding = 0;
  ASSERT_EQ(PreparePayloadSection(image, block.size(), padding, message), kOk) << message.Str();
  Bytes file = image;
  file.insert(file.end(), block.begin(), block.end());
  file.insert(file.end(), padding, 0);
  for (size_t piece : {size_t(1), size_t(3), size_t(64), size_t(1001)}) {
    PeChecksumSum sum;
    for (size_t at = 0; at < file.size(); at += piece)
      sum.Add(file.data() + at, at + piece < file.size() ? piece : file.size() - at);
    EXPECT_EQ(sum.Value(), PeChecksum(whole.data(), whole.size())) << piece;
  }
  StorePeChecksum(file, PeChecksum(file.data(), file.size()));
  EXPECT_EQ(file, whole);
}

}  // namespace
}  // namespace qef
