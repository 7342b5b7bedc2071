#include "fs/path.h"

#include <cstring>

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

bool IsValidPath(const Text& text) {
  if (text.IsEmpty()) return false;
  return std::strpbrk(text.CStr(), "\\?<>*|\"") == nullptr;
}

bool IsFilePath(const Text& text) {
  if (!IsValidPath(text)) return false;
  char last = text.GetAt(text.GetLength() - 1);
  return last != '/' && last != ':';
}

bool IsFolderPath(const Text& text) {
  return IsValidPath(text) && text.GetAt(text.GetLength() - 1) == '/';
}

Text FileNameOf(const Text& path, PathStyle style) {
  Text t = ToInternalForm(path, style);
  if (!IsFilePath(t)) return Text("");
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

Text FolderOf(const Text& path, PathStyle style) {
  if (IsFolderPath(path)) return path;
  Text t = ToInternalForm(path, style);
  int32_t slash = t.ReverseFind('/');
  if (slash < 0) return Text("");
  return AddTrailingSeparator(t.Left(slash), style);
}

bool IsTooShortToCreate(const Text& folder, PathStyle style) {
  if (style == PathStyle::kWindows) return folder.GetLength() <= 4;
  return folder.GetLength() <= 1;
}

}  // namespace qef
