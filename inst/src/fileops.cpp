#include "fileops.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace pinst {

namespace {
int Result(long r) { return r < 0 ? -errno : static_cast<int>(r); }
FileOps g_real;
FileOps *g_ops = &g_real;
} // namespace

int FileOps::Open(const std::string &path, int flags, mode_t mode) {
  int fd;
  do
    fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
  while (fd < 0 && errno == EINTR);
  return Result(fd);
}
int FileOps::Close(int fd) { return Result(::close(fd)); }
int FileOps::Fstat(int fd, struct stat *st) { return Result(::fstat(fd, st)); }
int FileOps::Stat(const std::string &path, struct stat *st) {
  return Result(::stat(path.c_str(), st));
}
int FileOps::Lstat(const std::string &path, struct stat *st) {
  return Result(::lstat(path.c_str(), st));
}
long FileOps::Pread(int fd, void *buf, std::size_t len, off_t at) {
  long r;
  do
    r = ::pread(fd, buf, len, at);
  while (r < 0 && errno == EINTR);
  return r < 0 ? -errno : r;
}
long FileOps::Write(int fd, const void *buf, std::size_t len) {
  long r;
  do
    r = ::write(fd, buf, len);
  while (r < 0 && errno == EINTR);
  return r < 0 ? -errno : r;
}
int FileOps::Fsync(int fd) { return Result(::fdatasync(fd)); }
int FileOps::Fchmod(int fd, mode_t mode) { return Result(::fchmod(fd, mode)); }
int FileOps::Fchown(int fd, uid_t uid, gid_t gid) { return Result(::fchown(fd, uid, gid)); }
int FileOps::Rename(const std::string &from, const std::string &to) {
  return Result(::rename(from.c_str(), to.c_str()));
}
int FileOps::Unlink(const std::string &path) { return Result(::unlink(path.c_str())); }
int FileOps::LockExclusive(int fd) {
  int r;
  do
    r = ::flock(fd, LOCK_EX);
  while (r < 0 && errno == EINTR);
  return Result(r);
}

FileOps &Ops() { return *g_ops; }
void SetOps(FileOps *ops) { g_ops = ops != nullptr ? ops : &g_real; }

} // namespace pinst
