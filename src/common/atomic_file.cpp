#include "common/atomic_file.h"

#include <cerrno>
#include <charconv>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace astrelon {
namespace {

// The process's umask, read without changing it (calling umask() to query it
// would briefly affect files that other threads create).
mode_t CurrentUmask() {
  int fd = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    char buf[4096];
    ssize_t n = ::read(fd, buf, sizeof buf);
    ::close(fd);
    if (n > 0) {
      std::string_view status(buf, size_t(n));
      size_t pos = status.find("Umask:");
      if (pos != std::string_view::npos) {
        pos += 6;
        while (pos < status.size() && (status[pos] == ' ' || status[pos] == '\t'))
          ++pos;
        unsigned mask = 0;
        auto r = std::from_chars(status.data() + pos, status.data() + status.size(), mask, 8);
        if (r.ec == std::errc())
          return mode_t(mask & 0777);
      }
    }
  }
  return 022;
}

std::string ErrorText(int err) { return std::generic_category().message(err); }

// The file a path names after following symbolic links, also when the last
// link points to a file that does not exist yet. Empty after too many links.
std::string FollowLinks(std::string path) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    std::error_code ec;
    const std::filesystem::path next = std::filesystem::read_symlink(path, ec);
    if (ec) return path;
    path = next.is_absolute() ? next.string() : (std::filesystem::path(path).parent_path() / next).string();
  }
  return {};
}

// Whether the user may replace an existing file. The super-user passes every
// permission check, so a file with all write permissions removed still counts
// as protected.
bool MayReplace(const std::string& path, const struct stat& st) {
  return ::access(path.c_str(), W_OK) == 0 && (st.st_mode & 0222) != 0;
}

}  // namespace

TAtomicFile::~TAtomicFile() { Abandon(); }

bool TAtomicFile::Fail(const std::string& what, int err) {
  error_ = what + ": " + ErrorText(err);
  Abandon();
  return false;
}

void TAtomicFile::Unmap() {
  if (map_)
    ::munmap(map_, mapSize_);
  map_ = nullptr;
  mapSize_ = 0;
}

std::span<std::byte> TAtomicFile::MapForWriting(size_t size) {
  if (fd_ < 0 || map_ || size == 0)
    return {};
  // Reserved space: a page written through the mapping can then never lack a
  // block (which would be a fault, not an error code).
  if (::fallocate(fd_, 0, 0, off_t(size)) != 0) {
    const int err = errno;
    if (err == ENOSPC || err == EFBIG || err == EDQUOT)
      Fail(target_, err);
    return {};
  }
  void* m = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
  if (m == MAP_FAILED) {
    // Back to an empty file for the caller's writes.
    if (::ftruncate(fd_, 0) != 0)
      Fail(target_, errno);
    return {};
  }
  map_ = static_cast<std::byte*>(m);
  mapSize_ = size;
  return {map_, size};
}

void TAtomicFile::Abandon() {
  Unmap();
  if (fd_ >= 0)
    ::close(fd_);
  fd_ = -1;
  if (!temp_.empty())
    ::unlink(temp_.c_str());
  temp_.clear();
}

bool TAtomicFile::Open(const std::string& path) {
  Abandon();
  error_.clear();
  target_ = path;
  if (path.empty())
    return Fail("(no file name)", ENOENT);

  // A symbolic link stays a link: the file it names is written, also when
  // that file does not exist yet.
  target_ = FollowLinks(path);
  if (target_.empty()) {
    target_ = path;
    return Fail(target_, ELOOP);
  }
  std::filesystem::path target(target_);
  if (!target.has_filename())
    return Fail(target_, EISDIR);

  struct stat st {};
  mode_t mode = 0666 & ~CurrentUmask();
  const bool exists = ::stat(target_.c_str(), &st) == 0;
  if (exists) {
    if (S_ISDIR(st.st_mode))
      return Fail(target_, EISDIR);
    if (!MayReplace(target_, st))
      return Fail(target_, EACCES);
    mode = st.st_mode & 07777;
  }

  std::string folder = target.parent_path().string();
  if (folder.empty())
    folder = ".";
  // A hidden name beside the target; cut long names so the result stays a
  // valid file name.
  std::string name = target.filename().string().substr(0, 200);
  std::string pattern = folder + "/." + name + ".tmp-XXXXXX";
  int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0)
    return Fail(target_, errno);
  fd_ = fd;
  temp_ = pattern;
  if (::fchmod(fd_, mode) != 0)
    return Fail(target_, errno);
  if (exists) {
    // Keep the owner too where we may (as the super-user); failing is harmless.
    [[maybe_unused]] int ignored = ::fchown(fd_, st.st_uid, st.st_gid);
  }
  return true;
}

bool TAtomicFile::Write(std::span<const std::byte> data) {
  if (fd_ < 0) {
    if (error_.empty())
      error_ = target_ + ": " + ErrorText(EBADF);
    return false;
  }
  const auto* p = reinterpret_cast<const char*>(data.data());
  size_t left = data.size();
  while (left > 0) {
    ssize_t n = ::write(fd_, p, left);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0)
      return Fail(target_, errno);
    if (n == 0)
      return Fail(target_, ENOSPC);
    p += n;
    left -= size_t(n);
  }
  return true;
}

bool TAtomicFile::Write(std::string_view data) { return Write(std::as_bytes(std::span(data.data(), data.size()))); }

bool TAtomicFile::Commit() {
  if (fd_ < 0) {
    if (error_.empty())
      error_ = target_ + ": " + ErrorText(EBADF);
    return false;
  }
  // The mapped pages go with the file's data.
  Unmap();
  if (::fsync(fd_) != 0)
    return Fail(target_, errno);
  int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0)
    return Fail(target_, errno);
  if (::rename(temp_.c_str(), target_.c_str()) != 0)
    return Fail(target_, errno);
  temp_.clear();
  // Make the rename itself durable; a failure here no longer loses data.
  std::string folder = std::filesystem::path(target_).parent_path().string();
  int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

bool WriteFileAtomic(const std::string& path, std::string_view data, std::string* error) {
  TAtomicFile file;
  bool ok = file.Open(path) && file.Write(data) && file.Commit();
  if (error)
    *error = ok ? std::string() : file.Error();
  return ok;
}

}  // namespace astrelon
