#pragma once
// Writing a file so that it is either completely replaced or left as it was:
// the data goes to a temporary file in the target's folder, which is synced
// and then renamed over the target. A failed or abandoned write removes the
// temporary file and leaves the old target untouched.
#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace astrelon {

class TAtomicFile {
public:
  TAtomicFile() = default;
  ~TAtomicFile();  // removes the temporary file unless committed
  TAtomicFile(const TAtomicFile&) = delete;
  TAtomicFile& operator=(const TAtomicFile&) = delete;

  // Creates the temporary file for `path`. A symbolic link as target is
  // followed (also a dangling one), so the file it points to is written and the
  // link stays. An existing target that the user may not write (no write
  // permission, or all write bits cleared) is refused. The new file gets the
  // permissions, owner and group of the existing target, else 0666 less the
  // umask.
  bool Open(const std::string& path);
  bool Write(std::span<const std::byte> data);
  bool Write(std::string_view data);
  // Gives the temporary file `size` bytes (reserved on disk, zero) and maps
  // them for writing, so that threads can fill it side by side; the mapping
  // goes with Commit or Abandon. Empty (nothing changed, no error) when the
  // file system cannot reserve the space or map the file: the caller then
  // writes. An error (Error(), the file abandoned) when the space is lacking.
  std::span<std::byte> MapForWriting(size_t size);
  // Flushes the data to disk and renames the temporary file over the target.
  bool Commit();
  // Drops everything written; the target stays as it was.
  void Abandon();

  bool IsOpen() const { return fd_ >= 0; }
  // The temporary file's descriptor, for writers that need to seek (-1 when not
  // open). It stays owned by this object.
  int Descriptor() const { return fd_; }
  // What went wrong, with the file name ("" while all is well).
  const std::string& Error() const { return error_; }

private:
  bool Fail(const std::string& what, int err);

  void Unmap();

  int fd_ = -1;
  std::byte* map_ = nullptr;
  size_t mapSize_ = 0;
  std::string target_;
  std::string temp_;
  std::string error_;
};

// Replaces the file at `path` with `data` through TAtomicFile.
bool WriteFileAtomic(const std::string& path, std::string_view data, std::string* error = nullptr);

}  // namespace astrelon
