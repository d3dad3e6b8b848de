#include "store.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <time.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "common.h"
#include "fileops.h"

namespace pinst {

namespace {

// Edits keep their text in small separate buffers; past this many the store
// re-parses what it has just written, so that a long run of writes in one
// process does not drag an ever longer list of them along.
constexpr std::size_t kMaxStorage = 256;

// Symbolic links followed to find the file a write replaces, as many as the
// kernel follows.
constexpr int kMaxLinks = 40;

struct FileId {
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  long mtimeSec = 0, mtimeNsec = 0, ctimeSec = 0, ctimeNsec = 0;
  bool operator==(const FileId &) const = default;
};

FileId IdOf(const struct stat &st) {
  FileId id;
  id.dev = st.st_dev;
  id.ino = st.st_ino;
  id.size = st.st_size;
  id.mtimeSec = st.st_mtim.tv_sec;
  id.mtimeNsec = st.st_mtim.tv_nsec;
  id.ctimeSec = st.st_ctim.tv_sec;
  id.ctimeNsec = st.st_ctim.tv_nsec;
  return id;
}

// A file changed within the timestamp granularity of the time it was read may
// change again without its times moving (an in-place rewrite of the same size
// in the same clock tick). Such entries are checked against the bytes on disk
// until the tick is surely over: file systems with nanosecond times stamp in
// kernel ticks (at most 10 ms), those that show whole seconds may round to
// two.
constexpr long long kRacyFineNanos = 50'000'000LL;
constexpr long long kRacyCoarseNanos = 2'000'000'000LL;

long long NowNanos() {
  struct timespec ts;
  ::clock_gettime(CLOCK_REALTIME, &ts);
  return ts.tv_sec * 1'000'000'000LL + ts.tv_nsec;
}

bool IsRacy(const FileId &id) {
  long long mtime = id.mtimeSec * 1'000'000'000LL + id.mtimeNsec;
  long long ctime = id.ctimeSec * 1'000'000'000LL + id.ctimeNsec;
  bool coarse = id.mtimeNsec == 0 && id.ctimeNsec == 0;
  return NowNanos() - std::max(mtime, ctime) < (coarse ? kRacyCoarseNanos : kRacyFineNanos);
}

// A parsed file. While its times are racy, the document is compared with the
// bytes on disk, which it serializes back to exactly.
struct Cached {
  FileId id;
  std::shared_ptr<Document> doc;
  bool racy = false;
};

std::mutex g_cacheMutex;
std::unordered_map<std::string, Cached> &Cache() {
  static auto *cache = new std::unordered_map<std::string, Cached>();
  return *cache;
}

std::string Describe(const char *what, const std::string &path, int err) {
  std::string s = what;
  s += ' ';
  s += path;
  s += ": ";
  s += std::strerror(-err);
  return s;
}

void Remember(const std::string &path, const FileId &id, std::shared_ptr<Document> doc) {
  std::lock_guard<std::mutex> guard(g_cacheMutex);
  Cache()[path] = Cached{id, std::move(doc), IsRacy(id)};
}

// Reads the whole open file. Its size is only a hint: the loop reads to the
// end whatever it is.
bool ReadAll(int fd, const std::string &path, off_t sizeHint, std::string *out,
             std::string *error) {
  out->resize(static_cast<std::size_t>(sizeHint) + 1);
  std::size_t have = 0;
  for (;;) {
    if (have == out->size())
      out->resize(out->size() * 2 + 4096);
    long n = Ops().Pread(fd, out->data() + have, out->size() - have, static_cast<off_t>(have));
    if (n < 0) {
      *error = Describe("cannot read", path, static_cast<int>(n));
      return false;
    }
    if (n == 0)
      break;
    have += static_cast<std::size_t>(n);
  }
  out->resize(have);
  return true;
}

std::shared_ptr<const std::string> ReadFd(int fd, const std::string &path,
                                          const struct stat &st, std::string *error) {
  auto content = std::make_shared<std::string>();
  if (!ReadAll(fd, path, st.st_size, content.get(), error))
    return nullptr;
  return content;
}

// Whether the open file holds exactly the text of doc: 1 when it does, 0 when
// not, negative (an errno) when it cannot be read. Read a piece at a time, so
// that no copy of the whole file is made.
int HoldsDocument(int fd, const Document &doc) {
  constexpr std::size_t kChunk = 64 * 1024;
  std::unique_ptr<char[]> buffer(new char[kChunk]);
  off_t at = 0;
  std::size_t have = 0, used = 0;  // bytes in the buffer, bytes compared
  int failure = 0;
  bool same = doc.ForEachPiece([&](std::string_view piece) {
    while (!piece.empty()) {
      if (used == have) {
        long n = Ops().Pread(fd, buffer.get(), kChunk, at);
        if (n <= 0) {
          failure = n < 0 ? static_cast<int>(n) : 0;
          return false;
        }
        at += n;
        have = static_cast<std::size_t>(n);
        used = 0;
      }
      std::size_t k = std::min(piece.size(), have - used);
      if (std::memcmp(piece.data(), buffer.get() + used, k) != 0)
        return false;
      used += k;
      piece.remove_prefix(k);
    }
    return true;
  });
  if (failure != 0)
    return failure;
  if (!same || used != have)
    return 0;
  char extra;
  long n = Ops().Pread(fd, &extra, 1, at);
  return n < 0 ? static_cast<int>(n) : n == 0;
}

// The document of the open file fd at path, whose identity is id: the cached
// one while it still matches, else parsed afresh and cached. With take, the
// cached document is handed over for editing (copied if a reader still holds
// it) and leaves the cache.
std::shared_ptr<Document> DocumentOf(int fd, const std::string &path, const struct stat &st,
                                     bool take, std::string *error) {
  FileId id = IdOf(st);
  Cached hit;
  {
    std::lock_guard<std::mutex> guard(g_cacheMutex);
    auto it = Cache().find(path);
    if (it != Cache().end() && it->second.id == id) {
      hit = it->second;
      if (take)
        Cache().erase(it);
    }
  }
  if (hit.doc != nullptr && hit.racy) {
    int same = HoldsDocument(fd, *hit.doc);
    if (same < 0) {
      *error = Describe("cannot read", path, same);
      return nullptr;
    }
    if (same == 0) {
      hit.doc = nullptr;
    } else if (!IsRacy(id)) {
      std::lock_guard<std::mutex> guard(g_cacheMutex);
      auto it = Cache().find(path);
      if (it != Cache().end() && it->second.id == id)
        it->second.racy = false;
    }
  }
  if (hit.doc != nullptr) {
    if (!take)
      return hit.doc;
    // The cache no longer holds it: only this call and readers that got it
    // before may. Edit it in place when this call is alone with it.
    if (hit.doc.use_count() == 1) {
      // The last reader let go of it with a releasing decrement of the count
      // that was just read; this fence pairs with it, so that its reads
      // happen before the edits.
      std::atomic_thread_fence(std::memory_order_acquire);
      return std::move(hit.doc);
    }
    return std::make_shared<Document>(*hit.doc);
  }
  std::shared_ptr<const std::string> content = ReadFd(fd, path, st, error);
  if (content == nullptr)
    return nullptr;
  auto doc = std::make_shared<Document>(Document::Parse(std::move(content)));
  if (!take)
    Remember(path, id, doc);
  return doc;
}

// The file a write has to replace: the target of a symbolic link, so that
// the link survives. A link that leads nowhere is followed link by link to
// the name it ends at, which is what to create; a chain too long to follow
// is left as it is, and opening it then fails.
std::string WriteTarget(const std::string &path) {
  struct stat st;
  if (Ops().Lstat(path, &st) != 0 || !S_ISLNK(st.st_mode))
    return path;
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved) != nullptr)
    return resolved;
  std::string current = path;
  for (int hops = 0; hops < kMaxLinks; ++hops) {
    char target[PATH_MAX];
    ssize_t n = ::readlink(current.c_str(), target, sizeof target - 1);
    if (n <= 0)
      return current;
    target[n] = 0;
    std::size_t slash = current.rfind('/');
    current = target[0] == '/' || slash == std::string::npos
                  ? std::string(target)
                  : current.substr(0, slash + 1) + target;
    if (Ops().Lstat(current, &st) != 0 || !S_ISLNK(st.st_mode))
      return current;
  }
  return current;
}

std::string TempName(const std::string &path) {
  static std::atomic<unsigned> counter{0};
  std::size_t slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  return dir + "." + base + ".tmp" + std::to_string(::getpid()) + "." +
         std::to_string(counter.fetch_add(1));
}

// Temporary files of this path left by a writer that died before its rename.
// Only the holder of the lock writes one, so while it is held every one found
// is stale.
void RemoveStaleTemps(const std::string &path) {
  std::size_t slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
  std::string prefix =
      "." + (slash == std::string::npos ? path : path.substr(slash + 1)) + ".tmp";
  DIR *d = ::opendir(dir.c_str());
  if (d == nullptr)
    return;
  // Only names that TempName makes: the prefix, then digits, a dot, digits.
  // A user's own ".odbc.ini.tmp-backup" is left alone.
  auto made_here = [&](const char *name) {
    if (std::strncmp(name, prefix.c_str(), prefix.size()) != 0)
      return false;
    const char *p = name + prefix.size();
    auto digits = [&p] {
      const char *start = p;
      while (*p >= '0' && *p <= '9')
        ++p;
      return p != start;
    };
    return digits() && *p++ == '.' && digits() && *p == 0;
  };
  while (const struct dirent *e = ::readdir(d))
    if (made_here(e->d_name))
      Ops().Unlink(dir + "/" + e->d_name);
  ::closedir(d);
}

// Gives the new file the old one's extended attributes: its POSIX access
// control list above all, whose mask the mode's group bits stand for, so
// that without it the group could get rights that the list withheld; and
// labels and user attributes, as far as the writer may set them. 0, or the
// error that kept the access control list from being copied.
int CopyAttributes(int from, int to) {
  ssize_t size = ::flistxattr(from, nullptr, 0);
  if (size <= 0)
    return 0; // none, or a file system without them
  std::vector<char> names(static_cast<std::size_t>(size));
  size = ::flistxattr(from, names.data(), names.size());
  if (size < 0)
    return 0;
  for (const char *name = names.data(); name < names.data() + size;
       name += std::strlen(name) + 1) {
    bool acl = std::strcmp(name, "system.posix_acl_access") == 0;
    ssize_t length = ::fgetxattr(from, name, nullptr, 0);
    std::vector<char> value(length > 0 ? static_cast<std::size_t>(length) : 0);
    if (length >= 0)
      length = ::fgetxattr(from, name, value.data(), value.size());
    bool copied = length >= 0 && ::fsetxattr(to, name, value.data(),
                                             static_cast<std::size_t>(length), 0) == 0;
    if (!copied && acl)
      return -errno;
  }
  return 0;
}

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  Fd(const Fd &) = delete;
  Fd &operator=(const Fd &) = delete;
  ~Fd() { Reset(); }
  int get() const { return fd_; }
  void Reset(int fd = -1) {
    if (fd_ >= 0)
      Ops().Close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

bool WriteAll(int fd, std::string_view data, const std::string &path, std::string *error) {
  while (!data.empty()) {
    long n = Ops().Write(fd, data.data(), data.size());
    if (n <= 0) {
      *error = Describe("cannot write", path, n < 0 ? static_cast<int>(n) : -EIO);
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// Writes the document's text straight from the buffers it points into: long
// runs of unchanged lines go out as they are, short pieces are gathered
// first, so that no copy of the whole file is made.
bool WriteDocument(int fd, const Document &doc, const std::string &path, std::string *error) {
  constexpr std::size_t kGather = 16 * 1024;
  std::unique_ptr<char[]> gather(new char[kGather]);
  std::size_t held = 0;
  auto flush = [&] {
    bool ok = WriteAll(fd, std::string_view(gather.get(), held), path, error);
    held = 0;
    return ok;
  };
  return doc.ForEachPiece([&](std::string_view piece) {
           if (held + piece.size() > kGather && !flush())
             return false;
           if (piece.size() >= kGather)
             return WriteAll(fd, piece, path, error);
           std::memcpy(gather.get() + held, piece.data(), piece.size());
           held += piece.size();
           return true;
         }) &&
         flush();
}

// The open batch of the thread: per file, its copy with the batch's edits and
// the journal of those edits, in the order the files were first written.
struct Pending {
  std::string path;
  NewFile how = NewFile::kShared;
  bool existed = false;
  std::shared_ptr<Document> doc;
  std::vector<Document::Edit> journal;
};
using Batch = std::vector<std::unique_ptr<Pending>>;
PINST_THREAD_LOCAL std::unique_ptr<Batch> t_batch;

Pending *PendingOf(const std::string &path) {
  if (t_batch == nullptr)
    return nullptr;
  for (auto &p : *t_batch)
    if (p->path == path)
      return p.get();
  return nullptr;
}

} // namespace

bool Load(const std::string &path, DocPtr *doc, std::string *error) {
  *doc = nullptr;
  if (const Pending *p = PendingOf(path)) {
    // A file the batch has not written to yet is still absent.
    if (p->existed || !p->journal.empty())
      *doc = p->doc;
    return true;
  }
  {
    // The common case, an unchanged file read again, costs one stat: the
    // cached document is the content of the file with that identity.
    struct stat st;
    if (Ops().Stat(path, &st) == 0) {
      FileId id = IdOf(st);
      std::lock_guard<std::mutex> guard(g_cacheMutex);
      auto it = Cache().find(path);
      if (it != Cache().end() && it->second.id == id && !it->second.racy) {
        *doc = it->second.doc;
        return true;
      }
    }
  }
  // Open first, then look at the open file: the identity and the content then
  // belong to the same file even when a writer renames a new one in between.
  // Not blocking: a pipe at the path must not hang the reader.
  int fd = Ops().Open(path, O_RDONLY | O_NONBLOCK, 0);
  if (fd == -ENOENT || fd == -ENOTDIR)
    return true;
  if (fd < 0) {
    *error = Describe("cannot open", path, fd);
    return false;
  }
  Fd guard(fd);
  struct stat st;
  int r = Ops().Fstat(fd, &st);
  if (r != 0) {
    *error = Describe("cannot examine", path, r);
    return false;
  }
  // A pipe, a device or a folder holds no configuration: it reads as none
  // (so /dev/null reads as an empty file), and writes refuse it.
  if (!S_ISREG(st.st_mode))
    return true;
  auto parsed = DocumentOf(fd, path, st, false, error);
  if (parsed == nullptr)
    return false;
  *doc = std::move(parsed);
  return true;
}

namespace {

bool EditInBatch(const std::string &path, NewFile how,
                 const std::function<bool(Document &)> &edit, std::string *error) {
  Pending *p = PendingOf(path);
  if (p == nullptr) {
    DocPtr current;
    if (!Load(path, &current, error))
      return false;
    auto pending = std::make_unique<Pending>();
    pending->path = path;
    pending->how = how;
    pending->existed = current != nullptr;
    pending->doc = current != nullptr ? std::make_shared<Document>(*current)
                                      : std::make_shared<Document>();
    pending->doc->Record(&pending->journal);
    p = pending.get();
    t_batch->push_back(std::move(pending));
  }
  edit(*p->doc);
  return true;
}

} // namespace

bool BeginBatch() {
  if (t_batch != nullptr)
    return false;
  t_batch = std::make_unique<Batch>();
  return true;
}

bool CommitBatch(std::string *error) {
  error->clear();
  // Taken off the thread first: the writes below go to the disk.
  std::unique_ptr<Batch> batch = std::move(t_batch);
  if (batch == nullptr)
    return false;
  bool ok = true;
  for (const auto &p : *batch) {
    if (p->journal.empty())
      continue;
    auto replay = [&](Document &d) {
      bool changed = false;
      for (const Document::Edit &e : p->journal)
        changed = d.Apply(e) || changed;
      return changed;
    };
    std::string failure;
    if (!Update(p->path, p->how, replay, &failure) && ok) {
      ok = false;
      *error = std::move(failure);
    }
  }
  return ok;
}

void AbortBatch() { t_batch = nullptr; }

bool Update(const std::string &path, NewFile how, const std::function<bool(Document &)> &edit,
            std::string *error) {
  if (t_batch != nullptr)
    return EditInBatch(path, how, edit, error);
  const std::string target = WriteTarget(path);
  Fd file;
  bool created = false;
  struct stat st;
  std::shared_ptr<Document> doc;
  for (;;) {
    // Opened for writing, though only read and locked: a file that its
    // permissions keep the caller from writing is refused, not replaced.
    int fd = Ops().Open(target, O_RDWR | O_NONBLOCK, 0);
    if (fd == -ENOENT) {
      // Nothing to lock yet: find out on an empty document whether the edit
      // writes at all, so that removing what is not there creates nothing.
      Document probe;
      if (!edit(probe))
        return true;
      fd = Ops().Open(target, O_RDWR | O_CREAT | O_EXCL, how == NewFile::kPrivate ? 0600 : 0666);
      if (fd == -EEXIST) {
        // Another writer made the file meanwhile, and the next round reads
        // it; but a link that still leads nowhere would send every round
        // here again.
        struct stat link;
        if (Ops().Lstat(target, &link) == 0 && S_ISLNK(link.st_mode)) {
          *error = Describe("cannot create", target, -ELOOP);
          return false;
        }
        continue;
      }
      if (fd < 0) {
        *error = Describe("cannot create", target, fd);
        return false;
      }
      created = true;
    } else if (fd < 0) {
      *error = Describe("cannot open", target, fd);
      return false;
    }
    file.Reset(fd);
    int r = Ops().LockExclusive(fd);
    if (r != 0) {
      *error = Describe("cannot lock", target, r);
      if (created)
        Ops().Unlink(target);
      return false;
    }
    // The lock belongs to the inode. A writer that renamed a new file over
    // the path while this one waited has left it a lock on a file that is no
    // longer there: start again on the new one.
    struct stat now;
    r = Ops().Fstat(fd, &st);
    if (r != 0) {
      *error = Describe("cannot examine", target, r);
      return false;
    }
    // Replacing a pipe or a device (say /dev/null) with a file would break
    // whatever else uses it.
    if (!S_ISREG(st.st_mode)) {
      *error = "cannot write " + target + ": not a regular file";
      return false;
    }
    if (Ops().Stat(target, &now) == 0 && now.st_dev == st.st_dev && now.st_ino == st.st_ino)
      break;
    created = false;
  }

  auto fail = [&](std::string message) {
    *error = std::move(message);
    if (created)
      Ops().Unlink(target);
    return false;
  };

  FileId id = IdOf(st);
  {
    std::string readError;
    doc = DocumentOf(file.get(), path, st, true, &readError);
    if (doc == nullptr)
      return fail(readError);
  }
  if (!edit(*doc)) {
    // Unchanged, but handed over: it goes back, unless the file was made
    // for this call and goes away again.
    if (created)
      Ops().Unlink(target);
    else
      Remember(path, id, std::move(doc));
    return true;
  }

  RemoveStaleTemps(target);
  const std::string temp = TempName(target);
  int tfd = Ops().Open(temp, O_WRONLY | O_CREAT | O_EXCL, 0600);
  if (tfd < 0)
    return fail(Describe("cannot create", temp, tfd));
  Fd tmp(tfd);
  auto failTemp = [&](const char *what, int err) {
    Ops().Unlink(temp);
    return fail(Describe(what, target, err));
  };
  int r = Ops().Fchmod(tfd, st.st_mode & 07777);
  if (r != 0)
    return failTemp("cannot set the permissions of", r);
  if (st.st_uid != ::geteuid() || st.st_gid != ::getegid()) {
    // Only a privileged writer can give the file back to its owner; others
    // at least keep its group, which is what shares it.
    if (Ops().Fchown(tfd, st.st_uid, st.st_gid) != 0)
      Ops().Fchown(tfd, static_cast<uid_t>(-1), st.st_gid);
  }
  r = CopyAttributes(file.get(), tfd);
  if (r != 0)
    return failTemp("cannot keep the access control list of", r);
  std::string writeError;
  if (!WriteDocument(tfd, *doc, temp, &writeError)) {
    Ops().Unlink(temp);
    return fail(writeError);
  }
  // The content is on disk before the name points to it, so that even a
  // power failure leaves the old file or the new one. The folder itself is
  // not synced: losing the rename then only means keeping the old file.
  r = Ops().Fsync(tfd);
  if (r != 0)
    return failTemp("cannot sync", r);
  // Lock the new file before it takes the path, so that the next writer
  // queues on it until this one has recorded what it wrote.
  r = Ops().LockExclusive(tfd);
  if (r != 0)
    return failTemp("cannot lock", r);
  r = Ops().Rename(temp, target);
  if (r != 0)
    return failTemp("cannot replace", r);
  created = false;
  struct stat written;
  if (Ops().Fstat(tfd, &written) == 0) {
    if (doc->StorageCount() > kMaxStorage)
      doc = std::make_shared<Document>(
          Document::Parse(std::make_shared<const std::string>(doc->Serialize())));
    Remember(path, IdOf(written), std::move(doc));
  }
  return true;
}

void DropCache() {
  std::lock_guard<std::mutex> guard(g_cacheMutex);
  Cache().clear();
}

} // namespace pinst
