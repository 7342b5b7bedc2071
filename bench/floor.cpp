// The format's floor: extracts a container with nothing but what the format demands —
// read the file, decrypt each chunk (EVP for AES), inflate each compressed chunk, walk
// the content list and write the files and folders — and none of the engine's layers
// (no stream chain, no property lists, no progress, no journal, no attributes or times).
// With 2 threads a second thread reads, decrypts and inflates ahead while the first
// inflates too when it would wait, and writes the files. Built twice: `floor` inflates
// with zlib, `floor_libdeflate` with libdeflate.
//
//   floor CONTAINER PASSWORD TARGET_FOLDER THREADS
#include <sys/stat.h>

#include <openssl/blowfish.h>
#include <openssl/evp.h>
#include <openssl/sha.h>
#ifdef FLOOR_LIBDEFLATE
#include <libdeflate.h>
#else
#include <zlib.h>
#endif

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/endian.h"

using qef::LoadLe16;
using qef::LoadLe32;

namespace {

[[noreturn]] void Die(const char* what) {
  std::fprintf(stderr, "floor: %s\n", what);
  std::exit(1);
}

// CBC decryption of one chain, AES through EVP or Blowfish through BF_cbc_encrypt.
class Chain {
 public:
  Chain(int cipher, const unsigned char key[16], const unsigned char* iv) : cipher_(cipher) {
    if (cipher == 2) {
      ctx_ = EVP_CIPHER_CTX_new();
      EVP_DecryptInit_ex(ctx_, EVP_aes_128_cbc(), nullptr, key, iv);
      EVP_CIPHER_CTX_set_padding(ctx_, 0);
    } else {
      BF_set_key(&bf_, 16, key);
      std::memcpy(bf_iv_, iv, 8);
    }
  }
  ~Chain() {
    if (ctx_ != nullptr) EVP_CIPHER_CTX_free(ctx_);
  }
  void Decrypt(unsigned char* data, uint32_t n) {
    if (n == 0) return;
    if (cipher_ == 2) {
      int out = 0;
      EVP_DecryptUpdate(ctx_, data, &out, data, static_cast<int>(n));
    } else {
      BF_cbc_encrypt(data, data, n, &bf_, bf_iv_, BF_DECRYPT);
    }
  }

 private:
  int cipher_;
  EVP_CIPHER_CTX* ctx_ = nullptr;
  BF_KEY bf_;
  unsigned char bf_iv_[8];
};

// The stored chunks, decrypted, in order: flag, length, bytes.
class ChunkSource {
 public:
  ChunkSource(std::FILE* f, int cipher, const unsigned char key[16], const unsigned char* iv)
      : f_(f),
        block_(cipher == 2 ? 16 : 8),
        data_(cipher, key, iv),
        lengths_(cipher, key, iv),
        buffer_(static_cast<size_t>(block_) * 65536) {}
  // Copies the next stored chunk into raw; false at the end of the file.
  bool Next(unsigned char* raw, uint8_t& flag, uint32_t& stored) {
    unsigned char head[5];
    if (!Take(head, 5)) return false;
    flag = head[0];
    stored = LoadLe32(head + 1);
    if (stored > 65535 || !Take(raw, stored)) Die("damaged chunk");
    return true;
  }

 private:
  bool Take(unsigned char* out, uint32_t n) {
    while (n > 0) {
      if (pos_ == len_ && !Load()) return false;
      uint32_t k = std::min(n, len_ - pos_);
      std::memcpy(out, buffer_.data() + pos_, k);
      pos_ += k;
      out += k;
      n -= k;
    }
    return true;
  }
  bool Load() {
    unsigned char block[16];
    if (std::fread(block, 1, block_, f_) != block_) return false;
    lengths_.Decrypt(block, block_);
    uint32_t n = LoadLe32(block);
    uint32_t padded = (n + block_ - 1) / block_ * block_;
    if (padded > buffer_.size() || std::fread(buffer_.data(), 1, padded, f_) != padded) Die("damaged chunk");
    data_.Decrypt(buffer_.data(), padded);
    len_ = n;
    pos_ = 0;
    return true;
  }
  std::FILE* f_;
  uint32_t block_;
  Chain data_, lengths_;
  std::vector<unsigned char> buffer_;
  uint32_t pos_ = 0, len_ = 0;
};

struct Slot {
  std::vector<unsigned char> raw = std::vector<unsigned char>(65536);
  std::vector<unsigned char> plain = std::vector<unsigned char>(65536);
  uint32_t stored = 0, length = 0;
  uint8_t flag = 0;
  int state = 0;  // 0 free, 1 fetched, 2 claimed, 3 ready, 4 end
  const unsigned char* content = nullptr;
};

// One inflater per thread: zlib's inflate, or libdeflate's when built as floor_libdeflate.
#ifdef FLOOR_LIBDEFLATE
class Inflater {
 public:
  Inflater() : d_(libdeflate_alloc_decompressor()) {}
  ~Inflater() { libdeflate_free_decompressor(d_); }
  uint32_t Run(const unsigned char* in, uint32_t n, unsigned char* out) {
    size_t made = 0;
    if (libdeflate_zlib_decompress(d_, in, n, out, 65536, &made) != LIBDEFLATE_SUCCESS) Die("bad zlib data");
    return static_cast<uint32_t>(made);
  }

 private:
  libdeflate_decompressor* d_;
};
#else
class Inflater {
 public:
  Inflater() { inflateInit(&z_); }
  ~Inflater() { inflateEnd(&z_); }
  uint32_t Run(const unsigned char* in, uint32_t n, unsigned char* out) {
    inflateReset(&z_);
    z_.next_in = const_cast<unsigned char*>(in);
    z_.avail_in = n;
    z_.next_out = out;
    z_.avail_out = 65536;
    if (inflate(&z_, Z_FINISH) != Z_STREAM_END) Die("bad zlib data");
    return 65536 - z_.avail_out;
  }

 private:
  z_stream z_{};
};
#endif

void Inflate(Inflater& z, Slot& s, int setting) {
  if (s.flag != 0 && setting != 0) {
    s.content = s.plain.data();
    s.length = z.Run(s.raw.data(), s.stored, s.plain.data());
  } else {
    s.content = s.raw.data();
    s.length = s.stored;
  }
}

// The decoded content as a byte stream, fed from a ring of chunk slots.
class Content {
 public:
  Content(ChunkSource& source, int setting, int threads) : source_(source), setting_(setting), ring_(16) {
    if (threads > 1) ahead_ = std::thread([this] { Ahead(); });
  }
  ~Content() {
    {
      std::lock_guard<std::mutex> l(m_);
      stop_ = true;
    }
    cv_.notify_all();
    if (ahead_.joinable()) ahead_.join();
  }
  void Read(unsigned char* out, uint32_t n) {
    while (n > 0) {
      if (pos_ == len_) NextChunk();
      uint32_t k = std::min(n, len_ - pos_);
      std::memcpy(out, data_ + pos_, k);
      pos_ += k;
      out += k;
      n -= k;
    }
  }
  // Hands out up to n bytes in place; the caller uses them before the next call.
  const unsigned char* Peek(uint32_t n, uint32_t& got) {
    if (pos_ == len_) NextChunk();
    got = std::min(n, len_ - pos_);
    const unsigned char* p = data_ + pos_;
    pos_ += got;
    return p;
  }

 private:
  void NextChunk() {
    if (!ahead_.joinable()) {
      Slot& s = ring_[0];
      if (!source_.Next(s.raw.data(), s.flag, s.stored)) Die("content ends early");
      Inflate(z_, s, setting_);
      data_ = s.content;
      len_ = s.length;
      pos_ = 0;
      return;
    }
    std::unique_lock<std::mutex> l(m_);
    if (holding_) {
      ring_[consumed_ % ring_.size()].state = 0;
      ++consumed_;
      holding_ = false;
      cv_.notify_all();
    }
    for (;;) {
      if (consumed_ < fetched_) {
        Slot& s = ring_[consumed_ % ring_.size()];
        if (s.state == 3) {
          holding_ = true;
          data_ = s.content;
          len_ = s.length;
          pos_ = 0;
          return;
        }
        if (s.state == 4) Die("content ends early");
        if (s.state == 1) {
          s.state = 2;
          l.unlock();
          Inflate(z_, s, setting_);
          l.lock();
          s.state = 3;
          continue;
        }
      }
      cv_.wait(l);
    }
  }
  void Ahead() {
    Inflater z;
    std::unique_lock<std::mutex> l(m_);
    bool end = false;
    while (!stop_) {
      if (!end && fetched_ - consumed_ < ring_.size()) {
        Slot& s = ring_[fetched_ % ring_.size()];
        l.unlock();
        bool got = source_.Next(s.raw.data(), s.flag, s.stored);
        l.lock();
        s.state = got ? 1 : 4;
        end = !got;
        ++fetched_;
        cv_.notify_all();
        continue;
      }
      Slot* claim = nullptr;
      for (uint64_t q = consumed_; q < fetched_ && claim == nullptr; ++q)
        if (ring_[q % ring_.size()].state == 1) claim = &ring_[q % ring_.size()];
      if (claim != nullptr) {
        claim->state = 2;
        l.unlock();
        Inflate(z, *claim, setting_);
        l.lock();
        claim->state = 3;
        cv_.notify_all();
        continue;
      }
      cv_.wait(l);
    }
  }

  ChunkSource& source_;
  int setting_;
  Inflater z_;
  std::vector<Slot> ring_;
  std::mutex m_;
  std::condition_variable cv_;
  std::thread ahead_;
  uint64_t fetched_ = 0, consumed_ = 0;
  bool holding_ = false, stop_ = false;
  const unsigned char* data_ = nullptr;
  uint32_t pos_ = 0, len_ = 0;
};

struct Record {
  uint16_t tag, key;
  uint32_t length;
};

Record ReadHead(Content& c) {
  unsigned char h[8];
  c.Read(h, 8);
  return Record{LoadLe16(h), LoadLe16(h + 2), LoadLe32(h + 4)};
}

// Reads the nested property list of an item: kind (100), name (200), folder (201).
void ReadItemList(Content& c, int& kind, std::string& name, std::string& folder) {
  Record list = ReadHead(c);
  if (list.tag != 2) Die("item without a list");
  unsigned char n4[4];
  c.Read(n4, 4);
  uint32_t count = LoadLe32(n4);
  std::vector<unsigned char> skip;
  for (uint32_t i = 0; i < count; ++i) {
    Record r = ReadHead(c);
    if (r.tag == 10) {
      unsigned char b;
      c.Read(&b, 1);
      if (r.key == 100) kind = b;
    } else if (r.tag == 110) {
      skip.resize(r.length);
      c.Read(skip.data(), r.length);
      size_t off = skip[0] == 0xFF ? 5 : 1;
      std::string text(reinterpret_cast<char*>(skip.data()) + off, r.length - off);
      if (r.key == 200) name = text;
      if (r.key == 201) folder = text;
    } else {
      skip.resize(r.length);  // the file information list and anything else
      if (r.length > 0) c.Read(skip.data(), r.length);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) Die("usage: floor CONTAINER PASSWORD TARGET THREADS");
  std::FILE* f = std::fopen(argv[1], "rb");
  if (f == nullptr) Die("cannot open the container");
  std::setvbuf(f, nullptr, _IOFBF, 1 << 20);
  std::string target = argv[3];
  if (target.back() != '/') target += '/';
  mkdir(target.c_str(), 0777);

  // The header: a list of small records in plain.
  unsigned char h[12];
  if (std::fread(h, 1, 12, f) != 12) Die("short header");
  uint32_t count = LoadLe32(h + 8);
  int cipher = 0, setting = 0;
  std::vector<unsigned char> iv(16, 0);
  for (uint32_t i = 0; i < count; ++i) {
    unsigned char r[8];
    if (std::fread(r, 1, 8, f) != 8) Die("short header");
    uint16_t tag = r[0] | r[1] << 8, key = r[2] | r[3] << 8;
    std::vector<unsigned char> payload(LoadLe32(r + 4));
    if (std::fread(payload.data(), 1, payload.size(), f) != payload.size()) Die("short header");
    if (tag == 10 && key == 20) cipher = payload[0];
    if (tag == 10 && key == 21) setting = payload[0];
    if (tag == 1 && key == 25 && payload.size() >= 16) std::memcpy(iv.data(), payload.data(), 16);
  }
  unsigned char check[2];
  if (std::fread(check, 1, 2, f) != 2) Die("short file");
  std::string password = argv[2];
  unsigned char digest[20];
  SHA1(reinterpret_cast<const unsigned char*>(password.data()), password.size(), digest);
  if (digest[0] != check[0] || digest[1] != check[1]) Die("wrong password");
  std::string labelled = password + (cipher == 2 ? "_KVN" : "_Tidewell");
  SHA1(reinterpret_cast<const unsigned char*>(labelled.data()), labelled.size(), digest);

  ChunkSource source(f, cipher, digest, iv.data());
  Content content(source, setting, std::atoi(argv[4]));
  Record list = ReadHead(content);
  if (list.tag != 2) Die("no content list");
  unsigned char n4[4];
  content.Read(n4, 4);
  uint32_t items = LoadLe32(n4);
  for (uint32_t i = 0; i < items; ++i) {
    Record item = ReadHead(content);
    if (item.tag != 3100) Die("not an item");
    int kind = 0;
    std::string name, folder;
    ReadItemList(content, kind, name, folder);
    std::string path = target + folder + name;
    if (kind == 1) {
      mkdir(path.c_str(), 0777);
    } else if (kind == 0) {
      content.Read(n4, 4);
      uint32_t size = LoadLe32(n4);
      std::FILE* out = std::fopen(path.c_str(), "wb");
      if (out == nullptr) Die("cannot create a file");
      while (size > 0) {
        uint32_t got = 0;
        const unsigned char* p = content.Peek(size, got);
        std::fwrite(p, 1, got, out);
        size -= got;
      }
      std::fclose(out);
    }
  }
  std::fclose(f);
  return 0;
}
