// The files on disk: cached reads and locked, atomic rewrites.
//
// Readers see either the old file or the new one, never a mix: a rewrite
// writes a temporary file in the same folder, syncs it and renames it over
// the old one. Writers of one file take turns through flock(2) on the file
// itself and re-read it once they hold the lock, so no update is lost between
// processes. A parsed file stays cached while its identity (device, inode),
// size, modification and change times are unchanged; every call checks them.
#ifndef PELMARINST_STORE_H
#define PELMARINST_STORE_H

#include <functional>
#include <memory>
#include <string>

#include "ini.h"

namespace pinst {

using DocPtr = std::shared_ptr<const Document>;

// Reads the file at path. True with *doc null when the file does not exist;
// false with *error set when it exists but cannot be read. Never creates a
// file.
bool Load(const std::string &path, DocPtr *doc, std::string *error);

// How a file that Update has to create is made: private files (a user's data
// sources, which may hold passwords) are readable and writable by their
// owner only; shared ones get 0666 less the umask. An existing file keeps its
// permission bits, and its owner and group where the process may set them.
enum class NewFile { kPrivate, kShared };

// Runs edit on the current content of the file (an empty document when the
// file does not exist) while holding the file's lock, and replaces the file
// with the result when edit returns true. A write through a symbolic link
// replaces the link's target and keeps the link. When edit returns false
// nothing is written or created. False with *error set when any step fails;
// the file is then as it was.
bool Update(const std::string &path, NewFile how, const std::function<bool(Document &)> &edit,
            std::string *error);

// Batches of the calling thread's writes. While a batch is open, Update
// makes the edit on the thread's own copy of the file, which Load then gives
// to this thread; nothing reaches the disk. CommitBatch then writes each
// changed file once, as Update does: under its lock, on the file as it is by
// then, it makes the batch's edits of that file again, in order, so that what
// other processes wrote meanwhile stays and the batch's own values win where
// both set the same key. Other threads and processes see the files as they
// are on disk until then.
//
// BeginBatch: false when the thread has one open already.
// CommitBatch: false when there is none open, with *error empty, or when a
// file could not be written, with *error about the first such file; each file
// is then either written whole or left as it was. The batch ends either way.
// AbortBatch: forgets the open batch, if any.
bool BeginBatch();
bool CommitBatch(std::string *error);
void AbortBatch();

// Forgets every cached file (tests).
void DropCache();

} // namespace pinst

#endif
