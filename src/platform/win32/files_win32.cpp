// Binary files and directory listing on Windows.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "platform/files.h"
#include "platform/platform_internal.h"

namespace tmx::platform {

extern const char kPathSeparator = '\\';

namespace {

HANDLE toHandle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

std::intptr_t fromHandle(HANDLE handle) {
    return handle == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<std::intptr_t>(handle);
}

// Closes the search handle on every way out.
class FindHandle {
public:
    explicit FindHandle(HANDLE handle) : handle_(handle) {}
    ~FindHandle() {
        if (handle_ != INVALID_HANDLE_VALUE) {
            ::FindClose(handle_);
        }
    }
    FindHandle(const FindHandle&) = delete;
    FindHandle& operator=(const FindHandle&) = delete;
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

constexpr DWORD kNotAFile = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE;

std::uint64_t sizeOf(DWORD high, DWORD low) {
    return (static_cast<std::uint64_t>(high) << 32) | low;
}

}  // namespace

bool File::openRead(const std::string& path) {
    close();
    // Others may read, and may replace the file while it is open for reading.
    const HANDLE handle = ::CreateFileA(path.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    handle_ = fromHandle(handle);
    return isOpen();
}

bool File::openReadRegular(const std::string& path, FileStatus& status) {
    close();
    // Looking first keeps devices from being opened at all.
    status = fileStatus(path);
    if (status.kind != FileKind::Regular) {
        return false;
    }
    if (!openRead(path)) {
        status = FileStatus{};
        return false;
    }
    // The name may name something else by now: the open handle has to be a
    // file on disk.
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileType(toHandle(handle_)) != FILE_TYPE_DISK ||
        !::GetFileInformationByHandle(toHandle(handle_), &info) ||
        (info.dwFileAttributes & kNotAFile) != 0) {
        close();
        status = FileStatus{};
        status.kind = FileKind::Other;
        return false;
    }
    status.size = sizeOf(info.nFileSizeHigh, info.nFileSizeLow);
    return true;
}

bool File::openWrite(const std::string& path) {
    close();
    const HANDLE handle = ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                        CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    handle_ = fromHandle(handle);
    return isOpen();
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
        DWORD got = 0;
        if (!::ReadFile(toHandle(handle_), bytes + done, static_cast<DWORD>(length - done), &got,
                        nullptr)) {
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
        DWORD put = 0;
        if (!::WriteFile(toHandle(handle_), bytes + done, static_cast<DWORD>(length - done), &put,
                         nullptr) ||
            put == 0) {
            return -1;
        }
        done += static_cast<int>(put);
    }
    return done;
}

bool File::flushToDisk() { return isOpen() && ::FlushFileBuffers(toHandle(handle_)) != 0; }

void File::close() {
    if (isOpen()) {
        ::CloseHandle(toHandle(handle_));
        handle_ = -1;
    }
}

bool fileExists(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

FileStatus fileStatus(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
        return FileStatus{};
    }
    FileStatus status;
    if ((data.dwFileAttributes & kNotAFile) != 0) {
        status.kind = FileKind::Other;
        return status;
    }
    status.kind = FileKind::Regular;
    status.size = sizeOf(data.nFileSizeHigh, data.nFileSizeLow);
    return status;
}

bool removeFile(const std::string& path) { return ::DeleteFileA(path.c_str()) != 0; }

bool replaceFile(const std::string& from, const std::string& to) {
    return ::MoveFileExA(from.c_str(), to.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool linkFile(const std::string& existing, const std::string& newName) {
    return ::CreateHardLinkA(newName.c_str(), existing.c_str(), nullptr) != 0;
}

bool listDirectory(const std::string& dir, const std::string& pattern,
                   std::vector<std::string>& names) {
    names.clear();
    WIN32_FIND_DATAA found{};
    FindHandle search(::FindFirstFileA(joinPath(dir, pattern).c_str(), &found));
    if (search.get() == INVALID_HANDLE_VALUE) {
        // A readable directory without a match is an empty list, not a failure.
        return ::GetLastError() == ERROR_FILE_NOT_FOUND;
    }
    do {
        const std::string name = found.cFileName;
        // The system also matches the short 8.3 names ("*.lng" finds
        // "x.lngx" through "X~1.LNG"); the long name has to match as well.
        if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0 &&
            wildcardMatch(pattern, name)) {
            names.push_back(name);
        }
    } while (::FindNextFileA(search.get(), &found));
    return ::GetLastError() == ERROR_NO_MORE_FILES;
}

bool wildcardMatch(const std::string& pattern, const std::string& name) {
    // Windows file names compare without regard to case.
    return detail::wildcardMatchWith(pattern, name, true);
}

bool setWorkingDirectory(const std::string& dir) { return !dir.empty() && ::SetCurrentDirectoryA(dir.c_str()) != 0; }

}  // namespace tmx::platform
