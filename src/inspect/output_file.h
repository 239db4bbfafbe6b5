// An output file that appears under its name only when it is complete.
//
// OutputFile writes to a temporary file beside the target ("name.partial-
// XXXXXX") and renames it over the target on Commit(). If Commit() is never
// reached (an error, an early return), the destructor removes the temporary
// file, so a half-written picture, sound or movie is never left under the
// name the user asked for.
#ifndef KESTRIX_INSPECT_OUTPUT_FILE_H_
#define KESTRIX_INSPECT_OUTPUT_FILE_H_

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

#include "inspect/byte_source.h"

namespace inspect {

class OutputFile {
 public:
  explicit OutputFile(std::string path) : path_(std::move(path)) {}
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Creates the temporary file.
  Status Open();
  // Appends bytes; after a failure every later Write() fails too.
  Status Write(std::span<const std::uint8_t> bytes);
  // Overwrites bytes already written (for sizes known only at the end).
  Status WriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes);
  std::uint64_t position() const { return position_; }
  // The open stream, for writers (libpng) that want a FILE*.
  std::FILE* stream() { return file_; }
  // Flushes, closes and renames the file to its name.
  Status Commit();

  const std::string& path() const { return path_; }

 private:
  Status Fail(const char* what);

  std::string path_;
  std::string temp_;
  std::FILE* file_ = nullptr;
  std::uint64_t position_ = 0;
  bool failed_ = false;
};

}  // namespace inspect

#endif  // KESTRIX_INSPECT_OUTPUT_FILE_H_
