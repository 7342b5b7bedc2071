#include "app/picture.h"

#include "app/temp_files.h"
#include "core/text.h"
#include "fs/fs.h"
#include "fs/path.h"

namespace qef {

namespace {

bool WriteWholeFile(const Text& name, const unsigned char* bytes, uint32_t length) {
  HANDLE file = reinterpret_cast<HANDLE>(CreateScratchFile(ToInternalForm(name)));
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = WriteFile(file, bytes, length, &written, nullptr);
  return CloseHandle(file) && ok && written == length;
}

HBITMAP LoadBitmapFile(const Text& name, SIZE size) {
  return static_cast<HBITMAP>(LoadImageA(nullptr, name.Str(), IMAGE_BITMAP, size.cx, size.cy, LR_LOADFROMFILE));
}

}  // namespace

SIZE FitPicture(SIZE natural, SIZE limit) {
  if (natural.cx <= 0 || natural.cy <= 0 || limit.cx <= 0 || limit.cy <= 0) return SIZE{0, 0};
  if (natural.cx <= limit.cx && natural.cy <= limit.cy) return natural;
  // The side that overflows most sets the scale; the other follows, rounded to the
  // nearest pixel. Products in 64 bits: a BMP may claim a huge size.
  int64_t w = natural.cx, h = natural.cy;
  SIZE shown;
  if (w * limit.cy >= h * limit.cx) {
    shown.cx = limit.cx;
    shown.cy = static_cast<LONG>((h * limit.cx * 2 + w) / (w * 2));
  } else {
    shown.cy = limit.cy;
    shown.cx = static_cast<LONG>((w * limit.cy * 2 + h) / (h * 2));
  }
  if (shown.cx < 1) shown.cx = 1;
  if (shown.cy < 1) shown.cy = 1;
  return shown;
}

HBITMAP LoadPicture(const unsigned char* bytes, uint32_t length, SIZE limit) {
  if (bytes == nullptr || length == 0) return nullptr;
  Text name = DrawTempName();
  if (name.IsEmpty()) return nullptr;

  HBITMAP bitmap = nullptr;
  if (WriteWholeFile(name, bytes, length)) bitmap = LoadBitmapFile(name, SIZE{0, 0});
  BITMAP info;
  if (bitmap != nullptr && GetObjectA(bitmap, sizeof info, &info) == sizeof info) {
    SIZE natural = {info.bmWidth, info.bmHeight};
    SIZE shown = FitPicture(natural, limit);
    if (shown.cx != natural.cx || shown.cy != natural.cy) {
      DeleteObject(bitmap);
      bitmap = shown.cx > 0 ? LoadBitmapFile(name, shown) : nullptr;
    }
  }
  RemoveFile(name);
  return bitmap;
}

}  // namespace qef
