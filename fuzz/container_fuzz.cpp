// The whole container reader, with extraction into a fresh folder. The fuzzed bytes are
// the plaintext: a control byte, the header list and the content list; the harness
// compresses and encrypts the content as a writer would, with the header's cipher, and
// a fixed password, so that the inner layers are reached rather than stopped at the
// password check. Promise checked: whatever the content, nothing is written outside
// the target folder, and a failed run leaves the target as it was (empty).
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "container/container_reader.h"
#include "container/engine.h"
#include "container/value_record.h"
#include "container/writer.h"
#include "core/endian.h"
#include "core/memory_stream.h"
#include "crypto/cipher.h"
#include "crypto/hash.h"
#include "fs/fs.h"
#include "fs/walk.h"
#include "fuzz/fuzz_target.h"

namespace {

namespace fsys = std::filesystem;

const char kPassword[] = "fuzz password";

// One scratch folder per process: workers fuzzing side by side must never extract
// into each other's target.
std::string Scratch() {
  static std::string dir = [] {
    fsys::path p = fsys::temp_directory_path() / ("qef-container-fuzz-" + std::to_string(getpid()));
    fsys::create_directories(p);
    return p.generic_string() + "/";
  }();
  return dir;
}

void Put32(std::string& s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>(v >> (8 * i)));
}

// The container file for a header record and a plain content list.
std::string Build(uint8_t control, const std::string& header_bytes, const std::string& content) {
  qef::PropertyList header;
  qef::MemoryStream in;
  in.OpenRead(header_bytes.data(), static_cast<uint32_t>(header_bytes.size()), nullptr);
  qef::SerialiseValue(header, in);
  uint8_t cipher = header.GetByte(qef::kHeaderCipher, qef::kBlowfishCipher);
  uint8_t setting = header.GetByte(qef::kHeaderCompression, qef::kCompressionStored);
  if (!qef::IsSupported(cipher)) cipher = qef::kAesCipher;
  qef::Value vector = qef::HeaderVector(header, cipher);

  // Compressed chunks: deflated when the control byte asks for it and the setting
  // allows, else stored.
  std::string plain;
  for (size_t at = 0; at < content.size(); at += qef::kMaxPlainChunk) {
    std::string piece = content.substr(at, qef::kMaxPlainChunk);
    if ((control & 1) != 0 && setting != qef::kCompressionStored) {
      uLongf n = compressBound(static_cast<uLong>(piece.size()));
      std::string z(n, '\0');
      compress2(reinterpret_cast<Bytef*>(&z[0]), &n, reinterpret_cast<const Bytef*>(piece.data()),
                static_cast<uLong>(piece.size()), 1);
      z.resize(n);
      plain.push_back(static_cast<char>(qef::kChunkDeflated));
      Put32(plain, static_cast<uint32_t>(z.size()));
      plain += z;
    } else {
      plain.push_back(static_cast<char>(qef::kChunkPlain));
      Put32(plain, static_cast<uint32_t>(piece.size()));
      plain += piece;
    }
  }
  // One encrypted chunk per 64 Ki blocks.
  qef::CipherInstance data_chain, length_chain;
  qef::Text password(kPassword);
  data_chain.Init(cipher, qef::kCipherEncrypt, password, &vector);
  length_chain.Init(cipher, qef::kCipherEncrypt, password, &vector);
  uint32_t block = qef::BlockSize(cipher);
  std::string out = header_bytes;
  uint16_t check = qef::PasswordCheckValue(password);
  out.push_back(static_cast<char>(check & 0xFF));
  out.push_back(static_cast<char>(check >> 8));
  const size_t chunk_bytes = static_cast<size_t>(block) * 65536;
  for (size_t at = 0; at < plain.size(); at += chunk_bytes) {
    std::string chunk = plain.substr(at, chunk_bytes);
    std::string length(block, '\0');
    for (int i = 0; i < 4; ++i) length[i] = static_cast<char>(chunk.size() >> (8 * i));
    chunk.resize((chunk.size() + block - 1) / block * block, '\0');
    length_chain.Encrypt(reinterpret_cast<unsigned char*>(&length[0]), block);
    data_chain.Encrypt(reinterpret_cast<unsigned char*>(&chunk[0]), static_cast<uint32_t>(chunk.size()));
    out += length + chunk;
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  uint8_t control = data[0];
  size_t header_size = qef::LoadLe16(data + 1);
  if (header_size > size - 3) header_size = size - 3;
  std::string header(reinterpret_cast<const char*>(data) + 3, header_size);
  std::string content(reinterpret_cast<const char*>(data) + 3 + header_size, size - 3 - header_size);

  std::string root = Scratch();
  // The file layer's own removal: a tree an input made may lie deeper than the C++
  // library can reach on Windows.
  if (qef::FolderExists(qef::Text((root + "area/").c_str())))
    FUZZ_ASSERT(qef::DeleteFolderTree(qef::Text((root + "area/").c_str())) == 0);
  fsys::create_directories(root + "area/target");
  std::string container = root + "c.qef";
  std::ofstream(container, std::ios::binary) << Build(control, header, content);

  qef::ExtractEngine engine;
  qef::ExtractOptions options;
  options.decode_threads = (control & 2) != 0 ? 2 : 1;
  int32_t r = qef::ExtractContainer(engine, qef::Text(container.c_str()), qef::Text(kPassword),
                                    qef::Text((root + "area/target/").c_str()), nullptr, &options);
  // Nothing beside the target, whatever happened; nothing inside it after a failure.
  for (const auto& e : fsys::directory_iterator(root + "area")) FUZZ_ASSERT(e.path().filename() == "target");
  if (r != 0) FUZZ_ASSERT(fsys::is_empty(root + "area/target"));
  return 0;
}

std::vector<std::string> FuzzSeeds() {
  std::vector<std::string> seeds;
  fsys::path src = fsys::temp_directory_path() / ("qef-fuzz-seed-" + std::to_string(getpid()));
  fsys::create_directories(src / "tree/sub/empty");
  std::ofstream(src / "tree/a.txt") << "alpha";
  std::ofstream(src / "tree/sub/b.bin") << std::string(3000, 'b');
  qef::PropertyList content;
  qef::CollectSources({qef::Text((src.generic_string() + "/tree").c_str())}, content, nullptr, nullptr);
  // Folder items the mutator would take long to grow: a path nested deeper than the
  // writer's folder hold, names near and beyond what a system can create.
  auto folder_item = [&](const std::string& folder, const std::string& name) {
    qef::Value v;
    v.SetType(qef::kFsItem);
    qef::FsItem* item = v.GetFsItem();
    item->PutByte(qef::kItemKind, qef::kKindFolder, 1);
    item->PutString(qef::kItemName, name.c_str(), 1);
    item->PutString(qef::kItemFolder, folder.c_str(), 1);
    content.Append(v);
  };
  std::string deep;
  for (int i = 0; i < 300; ++i) deep += "d\\";
  folder_item(deep, "last");
  folder_item("", std::string(255, 'n'));
  folder_item("long\\", std::string(5000, 'L'));
  // The content list's plain bytes, as a writer produces them.
  qef::StreamParams params;
  qef::MemoryStream out;
  out.OpenWrite(&params);
  qef::WriteContentList(content, out);
  std::string plain(reinterpret_cast<const char*>(out.Data()), out.Size());
  fsys::remove_all(src);

  for (uint8_t cipher : {uint8_t(2), uint8_t(0)}) {
    for (uint8_t setting : {uint8_t(1), uint8_t(0)}) {
      qef::PropertyList h;
      qef::Value iv;
      iv.SetBlob("0123456789abcdef", static_cast<int32_t>(qef::BlockSize(cipher)));
      h.PutValue(qef::kHeaderVector, iv, 1);
      h.PutString(qef::kHeaderMagic, qef::kContainerMagic, 1);
      h.PutByte(qef::kHeaderCompression, setting, 1);
      h.PutByte(qef::kHeaderCipher, cipher, 1);
      qef::MemoryStream hs;
      hs.OpenWrite(nullptr);
      qef::SerialiseValue(h, hs);
      std::string header(reinterpret_cast<const char*>(hs.Data()), hs.Size());
      std::string seed;
      seed.push_back(static_cast<char>(setting == 1 ? 3 : 0));
      seed.push_back(static_cast<char>(header.size() & 0xFF));
      seed.push_back(static_cast<char>(header.size() >> 8));
      seeds.push_back(seed + header + plain);
    }
  }
  return seeds;
}
