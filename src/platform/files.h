// Binary file access and directory listing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tmx::platform {

// What a path names, for code that must only ever read an ordinary file.
enum class FileKind {
    Missing,  // nothing there, or nothing this process may look at
    Regular,  // an ordinary file
    Other,    // a directory, device, pipe or socket
};

struct FileStatus {
    FileKind kind = FileKind::Missing;
    std::uint64_t size = 0;  // bytes, for a regular file
};

// Looks at path without opening it.
FileStatus fileStatus(const std::string& path);

// The platform's path separator ('\\' on Windows, '/' elsewhere).
extern const char kPathSeparator;

// "languages" followed by the path separator.
std::string languageDirectory();

// Joins a directory and a file name with the path separator.
std::string joinPath(const std::string& dir, const std::string& name);

class File {
public:
    File() = default;
    ~File() { close(); }
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Opens read-only, binary.
    bool openRead(const std::string& path);
    // Opens read-only, binary, but only a regular file: a directory, device,
    // pipe or socket is refused without being opened, and also when the name
    // was swapped for one since the look (the open never waits for a pipe's
    // writer). status tells what was found, with the size of the open file.
    bool openReadRegular(const std::string& path, FileStatus& status);
    // Creates or truncates, write-only, binary.
    bool openWrite(const std::string& path);
    // Returns bytes read (0 at the end), -1 on error.
    int read(void* buffer, int length);
    // Returns bytes written, -1 on error.
    int write(const void* data, int length);
    // Pushes written data to the storage device (before a replace).
    bool flushToDisk();
    void close();
    bool isOpen() const { return handle_ >= 0; }

private:
    std::intptr_t handle_ = -1;
};

bool fileExists(const std::string& path);
bool removeFile(const std::string& path);
// Replaces `to` by `from` in one step (the old `to` is never half-written).
bool replaceFile(const std::string& from, const std::string& to);
// Gives the existing file a second name (a hard link): the same content with
// no copying. False where the file system cannot do it.
bool linkFile(const std::string& existing, const std::string& newName);

// Lists the plain files of dir whose names match pattern ('*' and '?'
// wildcards, as "*.lng"), in the order the directory returns them.
// Returns false when the directory cannot be read.
bool listDirectory(const std::string& dir, const std::string& pattern,
                   std::vector<std::string>& names);

// True when name matches the wildcard pattern ('*' any run, '?' one character).
bool wildcardMatch(const std::string& pattern, const std::string& name);

// Makes dir the working directory of the process; false when it cannot.
bool setWorkingDirectory(const std::string& dir);

// Reads one character from standard input (EOF gives -1).
int readConsoleChar();

}  // namespace tmx::platform
