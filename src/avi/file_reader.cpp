#include "avi/file_reader.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
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
  }
  return true;
}

}  // namespace avi
