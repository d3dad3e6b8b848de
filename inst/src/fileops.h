// The file system calls of the store, behind a small interface so that a test
// can make any single step fail.
#ifndef PELMARINST_FILEOPS_H
#define PELMARINST_FILEOPS_H

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <string>

namespace pinst {

// Every call returns 0 (or the count / descriptor) on success and -errno on
// failure, never touching the global errno contract of its caller.
class FileOps {
 public:
  virtual ~FileOps() = default;
  virtual int Open(const std::string &path, int flags, mode_t mode);
  virtual int Close(int fd);
  virtual int Fstat(int fd, struct stat *st);
  virtual int Stat(const std::string &path, struct stat *st);
  virtual int Lstat(const std::string &path, struct stat *st);
  virtual long Pread(int fd, void *buf, std::size_t len, off_t at);
  virtual long Write(int fd, const void *buf, std::size_t len);
  // Content and size to disk (fdatasync(2)).
  virtual int Fsync(int fd);
  virtual int Fchmod(int fd, mode_t mode);
  virtual int Fchown(int fd, uid_t uid, gid_t gid);
  virtual int Rename(const std::string &from, const std::string &to);
  virtual int Unlink(const std::string &path);
  // flock(2): exclusive, waiting. Released when the descriptor is closed,
  // also when the process dies, so no lock outlives its holder.
  virtual int LockExclusive(int fd);
};

// The operations in use; the real ones unless a test installed its own.
FileOps &Ops();
// Installs ops (not owned; nullptr restores the real ones). Not thread-safe:
// meant for tests, between calls.
void SetOps(FileOps *ops);

} // namespace pinst

#endif
