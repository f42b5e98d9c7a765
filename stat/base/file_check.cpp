#include "file_check.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "report.h"

namespace caplat::stat {

namespace {

// Names a file as open would reach it: an existing one by its device and
// inode, through whatever name or link; another by its folder's and its own
// name. Devices and other special files have no key: /dev/null may take every
// output at once.
struct FileKey {
  dev_t device = 0;
  ino_t inode = 0;
  std::string name;
  bool operator==(const FileKey&) const = default;
};

bool key_of_path(const char* path, FileKey* key) {
  struct stat st;
  if (::stat(path, &st) == 0) {
    *key = {st.st_dev, st.st_ino, ""};
    return S_ISREG(st.st_mode);
  }
  std::string folder = path;
  size_t slash = folder.find_last_of('/');
  std::string name = slash == std::string::npos ? folder : folder.substr(slash + 1);
  folder = slash == std::string::npos ? "." : slash == 0 ? "/" : folder.substr(0, slash);
  if (::stat(folder.c_str(), &st) != 0) return false;
  *key = {st.st_dev, st.st_ino, name};
  return true;
}

}  // namespace

bool outputs_apart(const std::vector<const char*>& inputs,
                   const std::vector<const char*>& outputs) {
  std::vector<std::pair<FileKey, const char*>> input_keys;
  FileKey key;
  bool standard_input = false;
  for (const char* path : inputs) {
    if (strcmp(path, "-") == 0) {
      standard_input = true;
    } else if (key_of_path(path, &key)) {
      input_keys.emplace_back(key, path);
    }
  }
  struct stat st;
  if (standard_input && fstat(STDIN_FILENO, &st) == 0 && S_ISREG(st.st_mode))
    input_keys.emplace_back(FileKey{st.st_dev, st.st_ino, ""}, "-");
  std::vector<std::pair<FileKey, const char*>> output_keys;
  for (const char* path : outputs) {
    if (path == nullptr || strcmp(path, "-") == 0 || !key_of_path(path, &key)) continue;
    for (const auto& [input, name] : input_keys) {
      if (input == key) {
        report_file(path, "is also an input, which it would overwrite");
        return false;
      }
    }
    for (const auto& [output, name] : output_keys) {
      if (output == key) {
        report_file(path, "is named for two outputs");
        return false;
      }
    }
    output_keys.emplace_back(key, path);
  }
  return true;
}

}  // namespace caplat::stat
