// The file system under the file store (FileRegistry): one implementation per platform,
// chosen by CMake. Every function returns at once or within the given bound; none throws.
// A failure comes with a German reason for the user that names the file.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

namespace platform::file_store {

// The final target of a chain of symbolic links (the target need not exist yet), else
// `path` itself; empty, with `why`, for a chain that does not end.
std::string ResolveLinks(const std::string& path, std::string& why);

// Checks the folder that holds a store: it must belong to this user and be closed to the
// writing of others. With `create` a missing folder is made first (private, with its
// missing parents). `missing` tells that it does not exist (and was not made).
bool CheckFolder(const std::string& dir, bool create, bool& missing, std::string& why);

enum class ReadResult { Ok, Missing, Failed };
// Reads a regular file of at most `limit` bytes. Anything else (a FIFO, a device, a folder,
// a larger file) is refused without reading from it, so nothing here can block.
ReadResult ReadStore(const std::string& path, std::size_t limit, std::string& text,
                     std::string& why);

// An exclusive lock beside the store, held until it is destroyed.
class Lock {
 public:
  virtual ~Lock() = default;
};
// Waits at most `wait` for another program's lock; null, with `why`, when it is not had.
std::unique_ptr<Lock> LockStore(const std::string& path, std::chrono::milliseconds wait,
                                std::string& why);

// Removes the temporary files of `path` that processes no longer running left behind.
// Only under the lock: a running saver holds it while its temporary exists.
void RemoveStaleTemporaries(const std::string& path);

// Replaces the file `path` by `text` in one step (a private temporary in the same folder,
// synced, then renamed over it, and the folder synced): a reader sees the old file or the
// new one. The file keeps its permissions; a file its owner made read-only is refused.
// `fsyncs` counts the syncs made.
bool ReplaceStore(const std::string& path, const std::string& text, int& fsyncs, std::string& why);

// The home folder of the user's account (not of the environment); empty when unknown.
std::string AccountHomeFolder();

}  // namespace platform::file_store
