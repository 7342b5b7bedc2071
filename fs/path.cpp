#include "fs/path.h"

#include <cstring>

#include "core/result.h"

namespace qef {

Text ToInternalForm(const Text& path, PathStyle style) {
  Text t(path);
  if (style == PathStyle::kWindows) t.Replace('\\', '/');
  return t;
}

Text ToSystemForm(const Text& path, PathStyle style) {
  Text t(path);
  if (style == PathStyle::kWindows) t.Replace('/', '\\');
  return t;
}

Text StripTrailingSeparator(const Text& path, PathStyle style) {
  Text t = ToInternalForm(path, style);
  int32_t n = t.GetLength();
  if (n >= 2 && t.GetAt(n - 1) == '/' && !(n == 3 && t.GetAt(1) == ':')) return t.Left(n - 1);
  return t;
}

Text AddTrailingSeparator(const Text& path, PathStyle style) {
  Text t = ToInternalForm(path, style);
  int32_t n = t.GetLength();
  if (n > 0 && t.GetAt(n - 1) != '/') t.AppendChar('/');
  return t;
}

bool IsValidPath(const Text& text, PathStyle style) {
  if (text.IsEmpty()) return false;
  return style == PathStyle::kPosix || std::strpbrk(text.CStr(), "\\?<>*|\"") == nullptr;
}

bool IsFilePath(const Text& text, PathStyle style) {
  if (!IsValidPath(text, style)) return false;
  char last = text.GetAt(text.GetLength() - 1);
  return last != '/' && (last != ':' || style == PathStyle::kPosix);
}

bool IsFolderPath(const Text& text, PathStyle style) {
  return IsValidPath(text, style) && text.GetAt(text.GetLength() - 1) == '/';
}

Text FileNameOf(const Text& path, PathStyle style) {
  Text t = ToInternalForm(path, style);
  if (!IsFilePath(t, style)) return Text("");
  int32_t slash = t.ReverseFind('/');
  return slash < 0 ? t : t.Right(t.GetLength() - slash - 1);
}

Text TitleOf(const Text& path, PathStyle style) {
  Text name = FileNameOf(path, style);
  int32_t dot = name.ReverseFind('.');
  return dot < 0 ? name : name.Left(dot);
}

Text ExtensionOf(const Text& path, PathStyle style) {
  Text t = ToInternalForm(path, style);
  int32_t dot = t.ReverseFind('.');
  if (t.IsEmpty() || dot < 0) return Text("");
  return t.Right(t.GetLength() - dot - 1);
}

Text NumberedName(const Text& name, int32_t n, bool is_file) {
  if (n == 0) return name;
  int32_t dot = is_file ? name.ReverseFind('.') : -1;
  if (dot <= 0) dot = name.GetLength();
  Text numbered;
  numbered.Format("%s (%li)%s", name.Left(dot).Str(), static_cast<long>(n), name.Str() + dot);
  return numbered;
}

Text FolderOf(const Text& path, PathStyle style) {
  if (IsFolderPath(path, style)) return path;
  Text t = ToInternalForm(path, style);
  int32_t slash = t.ReverseFind('/');
  if (slash < 0) return Text("");
  return AddTrailingSeparator(t.Left(slash), style);
}

bool IsTooShortToCreate(const Text& folder, PathStyle style) {
  if (style == PathStyle::kWindows) return folder.GetLength() <= 4;
  return folder.GetLength() <= 1;
}

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

// Windows opens a device for these names whatever extension follows them.
bool IsDeviceName(const char* component, size_t length) {
  // The base name: up to the first '.', without trailing blanks and dots.
  size_t n = 0;
  while (n < length && component[n] != '.') ++n;
  while (n > 0 && (component[n - 1] == ' ' || component[n - 1] == '.')) --n;
  char up[8] = {};
  if (n < 3 || n > 7) return false;
  for (size_t i = 0; i < n; ++i) up[i] = Upper(component[i]);
  static const char* const kNames[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"};
  for (const char* d : kNames)
    if (std::strcmp(up, d) == 0) return true;
  if (n == 4 && (std::strncmp(up, "COM", 3) == 0 || std::strncmp(up, "LPT", 3) == 0)) {
    unsigned char digit = static_cast<unsigned char>(up[3]);
    // The superscript digits 1, 2 and 3 of the Windows code pages count as digits too.
    return (digit >= '0' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
  }
  return false;
}

bool IsUnsafeComponent(const char* c, size_t length, bool first, PathStyle style) {
  if (length == 0) return false;                 // doubled separators stay where they are
  if (length == 1 && c[0] == '.') return false;  // the folder itself
  bool only_dots_and_blanks = true;
  for (size_t i = 0; i < length; ++i) {
    unsigned char ch = static_cast<unsigned char>(c[i]);
    if (ch < 0x20) return true;
    if (ch == ':' && style == PathStyle::kWindows) return true;
    if (ch != '.' && ch != ' ') only_dots_and_blanks = false;
  }
  if (only_dots_and_blanks) return true;
  if (first && length >= 2 && c[1] == ':' && ((c[0] >= 'A' && c[0] <= 'Z') || (c[0] >= 'a' && c[0] <= 'z')))
    return true;
  return IsDeviceName(c, length);
}

}  // namespace

int32_t CheckItemName(const Text& folder_part, const Text& name, PathStyle style, bool folder_item) {
  if (!folder_item && (name.IsEmpty() || name.Equals("."))) return kUnsafeName;
  Text joined = Text::Concat(folder_part, name);
  const char* p = joined.Str();
  if (IsSeparator(p[0])) return kUnsafeName;
  bool first = true;
  while (*p != 0) {
    const char* start = p;
    while (*p != 0 && !IsSeparator(*p)) ++p;
    if (IsUnsafeComponent(start, static_cast<size_t>(p - start), first, style)) return kUnsafeName;
    first = false;
    if (*p != 0) ++p;
  }
  return 0;
}

const char* UnstorableNameReason(const Text& name) {
  const char* p = name.Str();
  size_t length = std::strlen(p);
  if (length == 0) return "it is empty";
  if (std::strcmp(p, ".") == 0 || std::strcmp(p, "..") == 0) return "it names a folder by its place, not its name";
  if (std::strchr(p, '\\') != nullptr) return "it holds '\\', which every reader takes for a folder separator";
  for (size_t i = 0; i < length; ++i)
    if (static_cast<unsigned char>(p[i]) < 0x20 || p[i] == 0x7F) return "it holds a control character";
  if (std::strpbrk(p, "/:*?\"<>|") != nullptr)
    return "it holds one of / : * ? \" < > |, which Windows refuses in names";
  if (p[length - 1] == '.' || p[length - 1] == ' ') return "it ends in a dot or a blank, which Windows drops";
  if (IsDeviceName(p, length)) return "it is a device name on Windows (CON, NUL, AUX, COM1, ...)";
  return nullptr;
}

}  // namespace qef
