#include "inspect/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace inspect {

OutputFile::~OutputFile() {
  if (file_) std::fclose(file_);
  if (!temp_.empty()) ::unlink(temp_.c_str());
}

Status OutputFile::Fail(const char* what) {
  failed_ = true;
  return Status::Error(std::string("cannot ") + what + " '" + path_ + "': " + std::strerror(errno));
}

Status OutputFile::Open() {
  std::vector<char> name(path_.begin(), path_.end());
  const char suffix[] = ".partial-XXXXXX";
  name.insert(name.end(), suffix, suffix + sizeof suffix);
  int fd = ::mkstemp(name.data());
  if (fd < 0) return Fail("write");
  temp_ = name.data();
  // mkstemp makes the file 0600; give it the usual mode for a new file.
  mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);
  file_ = ::fdopen(fd, "wb");
  if (!file_) {
    ::close(fd);
    return Fail("write");
  }
  return Status::Ok();
}

Status OutputFile::Write(std::span<const std::uint8_t> bytes) {
  if (failed_ || !file_) return Status::Error("cannot write '" + path_ + "'");
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) {
    return Fail("write");
  }
  position_ += bytes.size();
  return Status::Ok();
}

Status OutputFile::WriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
  if (failed_ || !file_) return Status::Error("cannot write '" + path_ + "'");
  if (::fseeko(file_, static_cast<off_t>(offset), SEEK_SET) != 0) return Fail("write");
  if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) return Fail("write");
  if (::fseeko(file_, 0, SEEK_END) != 0) return Fail("write");
  return Status::Ok();
}

Status OutputFile::Commit() {
  if (failed_ || !file_) return Status::Error("cannot write '" + path_ + "'");
  std::FILE* f = file_;
  file_ = nullptr;
  if (std::ferror(f) || std::fclose(f) != 0) {
    failed_ = true;
    return Fail("write");
  }
  if (::rename(temp_.c_str(), path_.c_str()) != 0) return Fail("write");
  temp_.clear();
  return Status::Ok();
}

}  // namespace inspect
