// Binary files and directory listing on POSIX.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/files.h"
#include "platform/platform_internal.h"

namespace tmx::platform {

extern const char kPathSeparator = '/';

namespace {

#ifndef O_CLOEXEC
#define O_CLOEXEC 0
#endif

int openFile(const std::string& path, int flags) {
    int fd = -1;
    do {
        fd = ::open(path.c_str(), flags | O_CLOEXEC, 0644);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

bool isPlainFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

FileStatus statusOf(const struct stat& info) {
    FileStatus status;
    status.kind = S_ISREG(info.st_mode) ? FileKind::Regular : FileKind::Other;
    if (status.kind == FileKind::Regular && info.st_size > 0) {
        status.size = static_cast<std::uint64_t>(info.st_size);
    }
    return status;
}

// Closes the directory stream on every way out.
class DirectoryStream {
public:
    explicit DirectoryStream(const std::string& dir) : dir_(::opendir(dir.c_str())) {}
    ~DirectoryStream() {
        if (dir_ != nullptr) {
            ::closedir(dir_);
        }
    }
    DirectoryStream(const DirectoryStream&) = delete;
    DirectoryStream& operator=(const DirectoryStream&) = delete;
    DIR* get() const { return dir_; }

private:
    DIR* dir_;
};

}  // namespace

bool File::openRead(const std::string& path) {
    close();
    const int fd = openFile(path, O_RDONLY);
    if (fd < 0) {
        return false;
    }
    handle_ = fd;
    return true;
}

bool File::openReadRegular(const std::string& path, FileStatus& status) {
    close();
    // Looking first keeps devices from being opened at all (opening some has
    // effects of its own).
    status = fileStatus(path);
    if (status.kind != FileKind::Regular) {
        return false;
    }
    // Not waiting: a pipe put in the file's place since the look would
    // otherwise hold the open until some writer comes.
    const int fd = openFile(path, O_RDONLY | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        status = FileStatus{};
        return false;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        ::close(fd);
        status = FileStatus{};
        return false;
    }
    status = statusOf(info);
    if (status.kind != FileKind::Regular) {
        ::close(fd);
        return false;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        ::close(fd);
        status = FileStatus{};
        return false;
    }
    handle_ = fd;
    return true;
}

bool File::openWrite(const std::string& path) {
    close();
    const int fd = openFile(path, O_WRONLY | O_CREAT | O_TRUNC);
    if (fd < 0) {
        return false;
    }
    handle_ = fd;
    return true;
}

int File::read(void* buffer, int length) {
    if (!isOpen() || length < 0 || (length > 0 && buffer == nullptr)) {
        return -1;
    }
    // Fills the buffer unless the file ends first, so a short count always
    // means the end of the file.
    auto* bytes = static_cast<unsigned char*>(buffer);
    int done = 0;
    while (done < length) {
        const ssize_t got =
            ::read(static_cast<int>(handle_), bytes + done, static_cast<std::size_t>(length - done));
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -1;
        }
        if (got == 0) {
            break;
        }
        done += static_cast<int>(got);
    }
    return done;
}

int File::write(const void* data, int length) {
    if (!isOpen() || length < 0 || (length > 0 && data == nullptr)) {
        return -1;
    }
    const auto* bytes = static_cast<const unsigned char*>(data);
    int done = 0;
    while (done < length) {
        const ssize_t put =
            ::write(static_cast<int>(handle_), bytes + done, static_cast<std::size_t>(length - done));
        if (put < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -1;
        }
        if (put == 0) {
            return -1;
        }
        done += static_cast<int>(put);
    }
    return done;
}

bool File::flushToDisk() {
    if (!isOpen()) {
        return false;
    }
    int rc = -1;
    do {
        rc = ::fsync(static_cast<int>(handle_));
    } while (rc != 0 && errno == EINTR);
    return rc == 0;
}

void File::close() {
    if (isOpen()) {
        ::close(static_cast<int>(handle_));
        handle_ = -1;
    }
}

bool fileExists(const std::string& path) { return isPlainFile(path); }

FileStatus fileStatus(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return FileStatus{};
    }
    return statusOf(info);
}

bool removeFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool replaceFile(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

bool linkFile(const std::string& existing, const std::string& newName) {
    return ::link(existing.c_str(), newName.c_str()) == 0;
}

bool listDirectory(const std::string& dir, const std::string& pattern,
                   std::vector<std::string>& names) {
    names.clear();
    const std::string where = dir.empty() ? std::string(".") : dir;
    DirectoryStream stream(where);
    if (stream.get() == nullptr) {
        return false;
    }
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(stream.get());
        if (entry == nullptr) {
            return errno == 0;
        }
        const std::string name = entry->d_name;
        if (name == "." || name == ".." || !wildcardMatch(pattern, name)) {
            continue;
        }
#ifdef DT_REG
        if (entry->d_type == DT_REG) {
            names.push_back(name);
            continue;
        }
        if (entry->d_type != DT_UNKNOWN && entry->d_type != DT_LNK) {
            continue;  // a directory, device, pipe or socket
        }
#endif
        // The type is not known from the entry (or it is a link): ask the file.
        if (isPlainFile(joinPath(where, name))) {
            names.push_back(name);
        }
    }
}

bool wildcardMatch(const std::string& pattern, const std::string& name) {
    return detail::wildcardMatchWith(pattern, name, false);
}

bool setWorkingDirectory(const std::string& dir) { return !dir.empty() && ::chdir(dir.c_str()) == 0; }

}  // namespace tmx::platform
