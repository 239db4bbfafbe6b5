// Random access to the bytes of a track, from a file or from memory.
//
// The scanner and the record readers never hold a whole track: they ask a
// ByteSource for the bytes at an offset. FileSource reads with positioned
// reads (pread), so a 700 MB track costs only the caller's buffers.
// MemorySource serves a caller-owned buffer, for tests and small inputs.
//
// Contract: Size() is fixed for the source's life. ReadAt() fills `out`
// completely or fails; reading past Size() is an error. Errors are returned
// as Status, never thrown. A source is used from one thread.
#ifndef KESTRIX_INSPECT_BYTE_SOURCE_H_
#define KESTRIX_INSPECT_BYTE_SOURCE_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace inspect {

// The outcome of an operation: ok, or a message ready to print after
// "kestrix-inspect: ".
struct Status {
  bool ok = true;
  std::string message;

  static Status Ok() { return {}; }
  static Status Error(std::string m) { return {false, std::move(m)}; }
};

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual std::uint64_t Size() const = 0;
  virtual Status ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) = 0;
  // The name used in messages: the file name, or a label.
  virtual const std::string& Name() const = 0;
};

class MemorySource final : public ByteSource {
 public:
  // `bytes` must outlive the source.
  MemorySource(std::span<const std::uint8_t> bytes, std::string name = "memory")
      : bytes_(bytes), name_(std::move(name)) {}
  std::uint64_t Size() const override { return bytes_.size(); }
  Status ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) override;
  const std::string& Name() const override { return name_; }

 private:
  std::span<const std::uint8_t> bytes_;
  std::string name_;
};

class FileSource final : public ByteSource {
 public:
  // Opens `path` for reading. On failure returns null and sets *status to
  // "cannot read 'path': reason".
  static std::unique_ptr<FileSource> Open(const std::string& path, Status* status);
  ~FileSource() override;
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;

  std::uint64_t Size() const override { return size_; }
  Status ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) override;
  const std::string& Name() const override { return path_; }

 private:
  FileSource(int fd, std::uint64_t size, std::string path)
      : fd_(fd), size_(size), path_(std::move(path)) {}
  int fd_;
  std::uint64_t size_;
  std::string path_;
};

// A window over a ByteSource that hands out contiguous byte ranges without
// a read per request. The pointer Get() returns stays valid until the next
// call on the reader.
class BlockReader {
 public:
  // `block` is the window size (at least kMinBlock); ranges asked of Get()
  // must be no longer than half of it.
  static constexpr std::size_t kMinBlock = 1024;
  explicit BlockReader(ByteSource& source, std::size_t block = 4u << 20);

  // The `length` bytes at `offset`, or null if they do not all lie inside
  // the source or a read failed (status() then says why).
  const std::uint8_t* Get(std::uint64_t offset, std::size_t length);

  // The first offset in [from, to) at which `pattern` starts and fits
  // wholly before `to`; `to` when there is none.
  std::uint64_t Find(std::span<const std::uint8_t> pattern, std::uint64_t from,
                     std::uint64_t to);

  // The longest range Get() serves.
  std::size_t max_get() const { return block_ / 2; }
  const Status& status() const { return status_; }
  ByteSource& source() { return source_; }

 private:
  bool Fill(std::uint64_t offset);

  ByteSource& source_;
  std::size_t block_;
  std::unique_ptr<std::uint8_t[]> buffer_;
  std::uint64_t start_ = 0;  // source offset of buffer_[0]
  std::size_t filled_ = 0;   // valid bytes in buffer_
  Status status_;
};

}  // namespace inspect

#endif  // KESTRIX_INSPECT_BYTE_SOURCE_H_
