// Apart from temp_file.cpp: the stub writes aside but never searches for what other
// runs left, and this search's standard containers would pull the C++ library's
// exception helpers into it.
#include <algorithm>
#include <string>
#include <vector>

#include "fs/temp_file.h"

namespace qef {

std::vector<Text> FindTemporaryFiles(const Text& folder, bool folders) {
  std::vector<std::string> found;
  FolderSearch search;
  if (search.Open(folder)) {
    Text name;
    bool is_folder = false, is_link = false;
    while (search.Next(name, is_folder, is_link)) {
      bool wanted = folders ? is_folder && !is_link : !is_folder;
      if (wanted && IsTemporaryName(name)) found.push_back(name.Str());
    }
  }
  std::sort(found.begin(), found.end());
  std::vector<Text> names;
  for (const std::string& f : found) names.push_back(Text(f.c_str()));
  return names;
}

}  // namespace qef
