#include "inspect/byte_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace inspect {

Status MemorySource::ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) {
  if (offset > bytes_.size() || out.size() > bytes_.size() - offset) {
    return Status::Error("'" + name_ + "': read past the end");
  }
  std::memcpy(out.data(), bytes_.data() + offset, out.size());
  return Status::Ok();
}

std::unique_ptr<FileSource> FileSource::Open(const std::string& path, Status* status) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *status = Status::Error("cannot read '" + path + "': " + std::strerror(errno));
    return nullptr;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    int err = errno;
    ::close(fd);
    *status = Status::Error("cannot read '" + path +
                            "': " + (S_ISDIR(st.st_mode) ? "Is a directory"
                                     : err ? std::strerror(err)
                                           : "not a regular file"));
    return nullptr;
  }
#ifdef POSIX_FADV_SEQUENTIAL
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
  *status = Status::Ok();
  return std::unique_ptr<FileSource>(
      new FileSource(fd, static_cast<std::uint64_t>(st.st_size), path));
}

FileSource::~FileSource() { ::close(fd_); }

Status FileSource::ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) {
  if (offset > size_ || out.size() > size_ - offset) {
    return Status::Error("cannot read '" + path_ + "': read past the end");
  }
  std::size_t done = 0;
  while (done < out.size()) {
    ssize_t n = ::pread(fd_, out.data() + done, out.size() - done,
                        static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return Status::Error("cannot read '" + path_ + "': " + std::strerror(errno));
    }
    if (n == 0) return Status::Error("cannot read '" + path_ + "': file shrank while reading");
    done += static_cast<std::size_t>(n);
  }
  return Status::Ok();
}

BlockReader::BlockReader(ByteSource& source, std::size_t block)
    : source_(source), block_(std::max<std::size_t>(block, kMinBlock)),
      buffer_(new std::uint8_t[block_]) {}

bool BlockReader::Fill(std::uint64_t offset) {
  std::uint64_t size = source_.Size();
  std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(block_, size - offset));
  start_ = offset;
  filled_ = 0;
  Status s = source_.ReadAt(offset, {buffer_.get(), n});
  if (!s.ok) {
    status_ = s;
    return false;
  }
  filled_ = n;
  return true;
}

const std::uint8_t* BlockReader::Get(std::uint64_t offset, std::size_t length) {
  std::uint64_t size = source_.Size();
  if (length > block_ / 2 || offset > size || length > size - offset) return nullptr;
  if (offset < start_ || offset + length > start_ + filled_) {
    if (!Fill(offset)) return nullptr;
  }
  return buffer_.get() + (offset - start_);
}

std::uint64_t BlockReader::Find(std::span<const std::uint8_t> pattern, std::uint64_t from,
                                std::uint64_t to) {
  to = std::min(to, source_.Size());
  const std::size_t m = pattern.size();
  if (m == 0 || m > block_ / 2) return to;
  while (from < to && to - from >= m) {
    if (from < start_ || from + m > start_ + filled_) {
      if (!Fill(from)) return to;
    }
    std::uint64_t end = std::min<std::uint64_t>(to, start_ + filled_);
    const std::uint8_t* base = buffer_.get() + (from - start_);
    std::size_t len = static_cast<std::size_t>(end - from);
    const void* hit = ::memmem(base, len, pattern.data(), m);
    if (hit) return from + static_cast<std::uint64_t>(static_cast<const std::uint8_t*>(hit) - base);
    if (end >= to) break;
    from = end - (m - 1);  // a match may straddle the window's end
  }
  return to;
}

}  // namespace inspect
