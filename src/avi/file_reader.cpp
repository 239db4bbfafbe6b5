#include "avi/file_reader.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

namespace avi {

FileReader::~FileReader() {
  if (fd_ >= 0) ::close(fd_);
}

bool FileReader::Open(const std::string& path) {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error_ = std::strerror(errno);
    return false;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    error_ = std::strerror(errno);
    ::close(fd);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    error_ = S_ISDIR(st.st_mode) ? "it is a directory" : "it is not a regular file";
    ::close(fd);
    return false;
  }
  fd_ = fd;
  size_ = static_cast<std::uint64_t>(st.st_size);
  return true;
}

bool FileReader::ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) const {
  if (fd_ < 0 || offset > size_ || out.size() > size_ - offset) return false;
  ++reads_;
  std::size_t done = 0;
  while (done < out.size()) {
    ssize_t n = ::pread(fd_, out.data() + done, out.size() - done,
                        static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;  // the file shrank under us
    done += static_cast<std::size_t>(n);
    bytes_read_ += static_cast<std::uint64_t>(n);
  }
  return true;
}

bool FileReader::ReadPiecesAt(std::uint64_t offset,
                              std::span<const std::span<std::uint8_t>> pieces) const {
  std::uint64_t total = 0;
  for (const std::span<std::uint8_t>& p : pieces) total += p.size();
  if (fd_ < 0 || offset > size_ || total > size_ - offset) return false;
  ++reads_;
  constexpr std::size_t kMaxVectors = 256;  // well under any system's IOV_MAX
  std::array<iovec, kMaxVectors> vectors;
  std::size_t piece = 0;   // the next byte to fill is pieces[piece][within]
  std::size_t within = 0;
  std::uint64_t at = offset;
  for (;;) {
    while (piece < pieces.size() && within == pieces[piece].size()) {
      ++piece;
      within = 0;
    }
    if (piece == pieces.size()) return true;
    int n = 0;
    for (std::size_t k = piece; k < pieces.size() && n < static_cast<int>(kMaxVectors); ++k) {
      const std::size_t skip = k == piece ? within : 0;
      if (pieces[k].size() == skip) continue;
      vectors[static_cast<std::size_t>(n++)] = {pieces[k].data() + skip, pieces[k].size() - skip};
    }
    const ssize_t got = ::preadv(fd_, vectors.data(), n, static_cast<off_t>(at));
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (got == 0) return false;  // the file shrank under us
    at += static_cast<std::uint64_t>(got);
    bytes_read_ += static_cast<std::uint64_t>(got);
    for (std::size_t left = static_cast<std::size_t>(got); left > 0;) {
      const std::size_t room = pieces[piece].size() - within;
      if (left < room) {
        within += left;
        left = 0;
      } else {
        left -= room;
        ++piece;
        within = 0;
      }
    }
  }
}

}  // namespace avi
