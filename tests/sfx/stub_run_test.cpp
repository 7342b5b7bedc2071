// Windows only: patches the mini stub in-process, runs the result and checks that the
// loader mapped the block where the stub looks for it.
#include <windows.h>

#include <imagehlp.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "core/result.h"
#include "sfx/payload.h"
#include "sfx/pe_image.h"
#include "tests/sfx/test_image.h"
#include "tests/support/temp_dir.h"

namespace qef {
namespace {

using test::Bytes;

// mini_stub.exe is built next to this test program.
Bytes ReadMiniStub() {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string p(path, n);
  p = p.substr(0, p.find_last_of("\\/") + 1) + "mini_stub.exe";
  std::ifstream in(p, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

// Runs a program with its standard output on a pipe; the exit code, or -1.
int RunProgram(const std::string& program, std::string& output) {
  SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
  HANDLE read_end = nullptr, write_end = nullptr;
  if (!CreatePipe(&read_end, &write_end, &sa, 0)) return -1;
  SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = write_end;
  si.hStdError = write_end;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION pi = {};
  std::string command = "\"" + program + "\"";
  BOOL started = CreateProcessA(program.c_str(), &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
  CloseHandle(write_end);
  int code = -1;
  if (started) {
    char buffer[512];
    DWORD got = 0;
    while (ReadFile(read_end, buffer, sizeof buffer, &got, nullptr) && got > 0) output.append(buffer, got);
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD exit_code = 0;
    if (GetExitCodeProcess(pi.hProcess, &exit_code)) code = static_cast<int>(exit_code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  CloseHandle(read_end);
  return code;
}

TEST(MiniStub, ImageEndsBeforeThePayloadAddress) {
  Bytes stub = ReadMiniStub();
  ASSERT_FALSE(stub.empty());
  PeImageFacts facts;
  Text message;
  ASSERT_EQ(InspectPeImage(stub.data(), stub.size(), facts, message), kOk) << message.Str();
  EXPECT_LE(facts.image_size, kPayloadRva);
  // mingw-w64's default image bases, each kind built like the stub it stands in for.
  const bool wide = sizeof(void*) == 8;
  EXPECT_EQ(facts.pe32_plus, wide);
  EXPECT_EQ(facts.image_base, wide ? 0x140000000u : 0x400000u);
  EXPECT_FALSE(facts.has_payload_section);
}

TEST(MiniStub, RunsWithItsBlockMapped) {
  Bytes stub = ReadMiniStub();
  ASSERT_FALSE(stub.empty());
  PayloadContent content;
  for (int i = 0; i < 3000; ++i) content.container.push_back(static_cast<unsigned char>(i));
  content.picture = {'B', 'M', 0, 0};
  const std::string info = "Hello from the block";
  content.info.assign(info.begin(), info.end());
  content.link = {'x', '.', 'y'};
  Bytes image = stub;
  Text message;
  ASSERT_EQ(AppendPayloadSection(image, BuildPayloadBlock(content), message), kOk) << message.Str();

  DWORD header_sum = 0, computed = 0;
  ASSERT_NE(CheckSumMappedFile(image.data(), static_cast<DWORD>(image.size()), &header_sum, &computed), nullptr);
  EXPECT_EQ(header_sum, computed);

  test::TempDir dir;
  std::string program = std::string(dir.Path().Str()) + "patched.exe";
  ASSERT_TRUE(WriteBytes(program, image));
  std::string output;
  EXPECT_EQ(RunProgram(program, output), 0) << output;
  EXPECT_EQ(output,
            "container=3000 bytes=000102030405060708090a0b0c0d0e0f info=Hello from the block link=x.y "
            "disclaimer= picture=4\n");

  // The stub on its own has no block and says so.
  std::string bare = std::string(dir.Path().Str()) + "bare.exe";
  ASSERT_TRUE(WriteBytes(bare, stub));
  output.clear();
  EXPECT_EQ(RunProgram(bare, output), 2);
  EXPECT_EQ(output, "no payload section\n");
}

TEST(MiniStub, RefusesUnsuitableStubs) { test::ExpectRefusals(ReadMiniStub()); }

}  // namespace
}  // namespace qef
