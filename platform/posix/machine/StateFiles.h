// Files of the emulated machine's state: every write lands whole or not at
// all, directories are private to their owner, and any byte string can name a
// file.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace standin {

// Outcome of creating a directory that must not exist yet.
enum class Creation { Created, Exists, Failed };

// Writes `content` to a temporary file beside `path`, syncs it and renames it
// over `path`, so that readers see the old or the new content, never a part.
// The file is created 0600.
bool writeFileAtomic(const std::string& path, const std::string& content);

// Reads the whole file; false when it cannot be opened or read.
bool readFile(const std::string& path, std::string& content);

// Creates `path` with mode 0700 and every missing parent likewise.
bool makePrivateTree(const std::string& path);

// Creates `path` (0700) if and only if it does not exist: of two concurrent
// creators exactly one gets Created. The parent must exist.
Creation createDirectoryExclusive(const std::string& path);

// Renames `from` to `to` unless `to` exists; false when it does.
bool renameNoReplace(const std::string& from, const std::string& to);

// An exclusive lock on a file (made 0600 when missing) that this process
// holds until the claim is destroyed; the kernel drops it when the process
// dies, so a claim never outlives its holder.
class FileClaim {
public:
    // Created: taken; Exists: another holder has it.
    static Creation take(const std::string& path, std::unique_ptr<FileClaim>& claim);

    explicit FileClaim(int fd)
        : fd_(fd)
    {
    }
    FileClaim(const FileClaim&) = delete;
    FileClaim& operator=(const FileClaim&) = delete;
    ~FileClaim();

private:
    int fd_;
};

// Removes a file; true when it is gone afterwards.
bool removeFile(const std::string& path);

// Removes a directory and everything in it.
bool removeTree(const std::string& path);

// The names in a directory, sorted bytewise, without "." and "..", and
// without the temporary files of interrupted writes (names starting with '.').
std::vector<std::string> listDirectory(const std::string& path);

// A file name for any byte string: letters, digits, '-' and '_' stay, every
// other byte becomes %XX (upper-case hexadecimal). The result never starts
// with '.', never contains '/', and decodes back to the same bytes.
std::string encodeFileName(const std::string& bytes);

// The inverse of encodeFileName; false when `name` is not such an encoding.
bool decodeFileName(const std::string& name, std::string& bytes);

}  // namespace standin
