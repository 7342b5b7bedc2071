// Apart from temp_file.cpp: the stub writes aside but never searches for what other
// runs left, and this search's standard containers would pull the C++ library's
// exception helpers into it.
#include <algorithm>
#include <string>
#include <vector>

#include "fs/temp_file.h"

namespace qef {

namespace {

std::vector<Text> Sorted(std::vector<std::string>& found) {
  std::sort(found.begin(), found.end());
  std::vector<Text> names;
  for (const std::string& f : found) names.push_back(Text(f.c_str()));
  return names;
}

}  // namespace

std::vector<Text> FindTemporaryFiles(const Text& folder, std::vector<Text>* folders) {
  std::vector<std::string> files, subfolders;
  FolderSearch search;
  if (search.Open(folder)) {
    Text name;
    bool is_folder = false, is_link = false;
    while (search.Next(name, is_folder, is_link)) {
      if (!IsTemporaryName(name)) continue;
      if (!is_folder)
        files.push_back(name.Str());
      else if (!is_link)
        subfolders.push_back(name.Str());
    }
  }
  if (folders != nullptr) *folders = Sorted(subfolders);
  return Sorted(files);
}

}  // namespace qef
