// The files and folders a run will write, checked before it does any work,
// and written so that nothing the program did not write is ever replaced
// or removed:
// - a file output may be a new name, a regular file, or a symbolic link to
//   one (the link stays; its target is replaced, atomically, in the
//   target's own folder, keeping its mode, and its owner and group where
//   the user may set them); anything else (a folder, a FIFO, a device) is
//   refused, and so is a file the user may not write (even in a folder they
//   may write) and a file with more than one name (hard links), which the
//   replacement would part from its other names;
// - a folder output may be a new name, or a folder that this program wrote
//   before (it holds the program's mark and nothing but what it writes);
// - each output's folder must exist and take a new file, which is proved by
//   creating the temporary file the write will use, and removing it;
// - no two outputs may resolve to one path.
// Messages name the path as the user gave it.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/result.h"

namespace tilvane {

class OutputFile {
 public:
  // option: how the user named it ("--output"), for messages.
  static Result<OutputFile> prepare(std::string_view option, std::string given);

  const std::string& given() const { return given_; }
  // Where the bytes go: the given path, or the file its link names.
  const std::string& target() const { return target_; }

  // Replaces the target's content with text, atomically.
  Status write(std::string_view text) const;
  // Removes the target, if it is there and a regular file.
  Status remove() const;

 private:
  OutputFile(std::string given, std::string target)
      : given_(std::move(given)), target_(std::move(target)) {}
  std::string given_;
  std::string target_;
};

class OutputFolder {
 public:
  static Result<OutputFolder> prepare(std::string_view option, std::string given);

  const std::string& given() const { return given_; }

  // Replaces the folder with one holding exactly the given files (name,
  // text) and the program's mark.
  Status write(std::vector<std::pair<std::string, std::string>> files) const;

 private:
  explicit OutputFolder(std::string given) : given_(std::move(given)) {}
  std::string given_;
};

// One path for the distinctness check: the option that names it, the path
// it resolves to, and whether the run writes it (or only reads it).
struct NamedOutput {
  std::string_view option;
  std::string path;
  bool written = true;
};

// Fails when a path the run writes resolves (after links, "." and "..") to
// another path of the run, or lies inside another (a file inside a folder
// output would go when the folder is replaced).
Status check_distinct_outputs(std::span<const NamedOutput> outputs);

}  // namespace tilvane
