// Positioned reads from one open file.
//
// FileReader owns a read-only file descriptor for its lifetime. ReadAt never
// moves a shared file position, so readers of different streams of the same
// file do not disturb each other. Reads past the end of the file fail rather
// than returning short data.
#ifndef KESTRIX_AVI_FILE_READER_H_
#define KESTRIX_AVI_FILE_READER_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace avi {

class FileReader {
 public:
  FileReader() = default;
  ~FileReader();
  FileReader(const FileReader&) = delete;
  FileReader& operator=(const FileReader&) = delete;

  // Opens `path` for reading. On failure returns false and leaves errno-style
  // text in error().
  bool Open(const std::string& path);
  bool is_open() const { return fd_ >= 0; }

  // The file's length in bytes, as found when it was opened.
  std::uint64_t size() const { return size_; }

  // Fills `out` with the bytes at `offset`. False when any of them lies past
  // the end of the file or the read fails.
  bool ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) const;

  // Fills the buffers of `pieces` in turn with the consecutive bytes at
  // `offset`, in as few system calls as the kernel allows (a scattered read:
  // rows stored in one order can land in another without a copy). False
  // when any of the bytes lies past the end of the file or the read fails.
  bool ReadPiecesAt(std::uint64_t offset, std::span<const std::span<std::uint8_t>> pieces) const;

  const std::string& error() const { return error_; }

  // Bytes delivered by ReadAt and ReadPiecesAt since Open, and the calls
  // made to them: let a test hold the reading of a hostile file to a bound.
  std::uint64_t bytes_read() const { return bytes_read_; }
  std::uint64_t reads() const { return reads_; }

 private:
  int fd_ = -1;
  std::uint64_t size_ = 0;
  mutable std::uint64_t bytes_read_ = 0;
  mutable std::uint64_t reads_ = 0;
  std::string error_;
};

}  // namespace avi

#endif  // KESTRIX_AVI_FILE_READER_H_
