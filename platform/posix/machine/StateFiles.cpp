#include "machine/StateFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

#include "machine/FaultSwitch.h"

namespace standin {
namespace {

constexpr mode_t kPrivateDirectory = 0700;
constexpr mode_t kPrivateFile = 0600;
constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr char kStateWrite[] = "StateWrite";

class FileDescriptor {
public:
    explicit FileDescriptor(int fd)
        : fd_(fd)
    {
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    int get() const { return fd_; }
    // Closes now and reports whether the close succeeded (it may report a
    // deferred write error).
    bool close() { return ::close(std::exchange(fd_, -1)) == 0; }

private:
    int fd_;
};

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

bool writeAll(int fd, const std::string& content)
{
    std::size_t done = 0;
    while (done < content.size()) {
        const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::string parentOf(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The directory entry itself must reach the disk for the rename to survive a
// crash.
void syncDirectory(const std::string& path)
{
    FileDescriptor dir(::open(path.c_str(), O_RDONLY | O_DIRECTORY));
    if (dir.get() >= 0)
        ::fsync(dir.get());
}

int hexValue(char c)
{
    const char* hit = std::strchr(kHexDigits, c);
    return (c != '\0' && hit) ? static_cast<int>(hit - kHexDigits) : -1;
}

// Every change to the machine's state passes here first: a fault fails it as
// a full disk would, a kill stops the process before it.
bool changeRefused() { return injectFault(kStateWrite); }

bool removeAll(const std::string& path)
{
    struct stat status;
    if (::lstat(path.c_str(), &status) != 0)
        return errno == ENOENT;
    if (!S_ISDIR(status.st_mode))
        return ::unlink(path.c_str()) == 0 || errno == ENOENT;
    bool removed = true;
    std::unique_ptr<DIR, DirCloser> dir(::opendir(path.c_str()));
    if (dir) {
        while (const dirent* entry = ::readdir(dir.get())) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..")
                removed = removeAll(path + "/" + name) && removed;
        }
    }
    return (::rmdir(path.c_str()) == 0 || errno == ENOENT) && removed;
}

bool keepsItsByte(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

}  // namespace

bool writeFileAtomic(const std::string& path, const std::string& content)
{
    const auto slash = path.find_last_of('/');
    const std::string directory = parentOf(path);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    if (changeRefused())
        return false;
    std::string temporary = directory + "/." + base + ".XXXXXX";
    FileDescriptor fd(::mkstemp(temporary.data()));
    if (fd.get() < 0)
        return false;
    const bool written
        = ::fchmod(fd.get(), kPrivateFile) == 0 && writeAll(fd.get(), content) && ::fsync(fd.get()) == 0 && fd.close();
    if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    syncDirectory(directory);
    return true;
}

bool readFile(const std::string& path, std::string& content)
{
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat status;
    if (fd.get() < 0 || ::fstat(fd.get(), &status) != 0)
        return false;
    // Read straight into a buffer sized once: key files leave no copies in
    // memory that growing would free.
    std::string result(static_cast<std::size_t>(status.st_size), '\0');
    std::size_t filled = 0;
    while (filled < result.size()) {
        const ssize_t n = ::read(fd.get(), result.data() + filled, result.size() - filled);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break;
        filled += static_cast<std::size_t>(n);
    }
    result.resize(filled);
    content = std::move(result);
    return true;
}

bool makePrivateTree(const std::string& path)
{
    struct stat status;
    if (::stat(path.c_str(), &status) == 0)
        return S_ISDIR(status.st_mode);
    const std::string parent = parentOf(path);
    if (parent != path && !makePrivateTree(parent))
        return false;
    return ::mkdir(path.c_str(), kPrivateDirectory) == 0 || errno == EEXIST;
}

Creation createDirectoryExclusive(const std::string& path)
{
    if (changeRefused())
        return Creation::Failed;
    if (::mkdir(path.c_str(), kPrivateDirectory) == 0)
        return Creation::Created;
    return errno == EEXIST ? Creation::Exists : Creation::Failed;
}

bool renameNoReplace(const std::string& from, const std::string& to)
{
    if (changeRefused() || ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0)
        return false;
    syncDirectory(parentOf(to));
    return true;
}

Creation FileClaim::take(const std::string& path, std::unique_ptr<FileClaim>& claim)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, kPrivateFile);
    if (fd < 0)
        return Creation::Failed;
    // Owned before the lock, so that a refused lock closes the file too.
    auto taken = std::make_unique<FileClaim>(fd);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        return errno == EWOULDBLOCK ? Creation::Exists : Creation::Failed;
    claim = std::move(taken);
    return Creation::Created;
}

FileClaim::~FileClaim() { ::close(fd_); }

bool removeFile(const std::string& path)
{
    return !changeRefused() && (::unlink(path.c_str()) == 0 || errno == ENOENT);
}

bool removeTree(const std::string& path) { return !changeRefused() && removeAll(path); }

std::vector<std::string> listDirectory(const std::string& path)
{
    std::vector<std::string> names;
    std::unique_ptr<DIR, DirCloser> dir(::opendir(path.c_str()));
    if (!dir)
        return names;
    while (const dirent* entry = ::readdir(dir.get()))
        if (entry->d_name[0] != '.')
            names.emplace_back(entry->d_name);
    std::sort(names.begin(), names.end());
    return names;
}

std::string encodeFileName(const std::string& bytes)
{
    std::string name;
    name.reserve(bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (keepsItsByte(byte)) {
            name += c;
        } else {
            name += '%';
            name += kHexDigits[byte >> 4];
            name += kHexDigits[byte & 0x0F];
        }
    }
    return name;
}

bool decodeFileName(const std::string& name, std::string& bytes)
{
    std::string result;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        if (keepsItsByte(c)) {
            result += name[i];
            continue;
        }
        if (c != '%' || i + 2 >= name.size())
            return false;
        const int high = hexValue(name[i + 1]);
        const int low = hexValue(name[i + 2]);
        if (high < 0 || low < 0)
            return false;
        result += static_cast<char>(high * 16 + low);
        i += 2;
    }
    bytes = std::move(result);
    return true;
}

}  // namespace standin
