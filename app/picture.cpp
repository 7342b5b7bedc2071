#include "app/picture.h"

#include "app/temp_files.h"
#include "core/text.h"
#include "fs/fs.h"

namespace qef {

namespace {

bool WriteWholeFile(const Text& name, const unsigned char* bytes, uint32_t length) {
  HANDLE file = CreateFileA(name.Str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr);
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
  if (natural.cx <= limit.cx && natural.cy <= limit.cy) return natural;
  // Larger in either direction: shown at exactly the frame's size, as the author's
  // frame defines the picture's place.
  if (limit.cx <= 0 || limit.cy <= 0) return SIZE{0, 0};
  return limit;
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
