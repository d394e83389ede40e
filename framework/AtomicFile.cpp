#include "framework/AtomicFile.h"

#include "framework/Exception.h"
#include "framework/Stream.h"

#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// The temporary name must fit the folder's name limit even when the target's name nearly fills it.
constexpr size_t kMaxTempStem = 200;

mode_t NewFileMode(const std::string& fileName)
{
    struct stat existing {};
    if (::stat(fileName.c_str(), &existing) == 0)
        return existing.st_mode & 07777;
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

// Where the bytes go: through a symbolic link to the file it names, so that the link stays a link.
// An existing target must be a regular file that could be opened for writing, since replacing it
// by renaming would otherwise get past its protection (or turn a device into a plain file).
std::string WriteTarget(const std::string& fileName)
{
    std::error_code error;
    fs::path target(fileName);
    if (fs::is_symlink(target, error)) {
        const fs::path resolved = fs::canonical(target, error);
        if (!error)
            target = resolved;
    }
    struct stat existing {};
    if (::stat(target.c_str(), &existing) == 0) {
        if (!S_ISREG(existing.st_mode) || ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0)
            throw EFCreateError(fileName);
    }
    return target.string();
}

}  // namespace

void WriteFileAtomically(const std::string& fileName, const std::function<void(TStream&)>& write)
{
    const std::string targetName = WriteTarget(fileName);
    const fs::path path(targetName);
    const fs::path dir = path.has_parent_path() ? path.parent_path() : fs::path(".");
    const std::string stem = path.filename().string().substr(0, kMaxTempStem);
    std::string temp = (dir / ("." + stem + ".XXXXXX")).string();
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        throw EFCreateError(fileName);
    ::fchmod(fd, NewFileMode(targetName));
    ::close(fd);
    try {
        {
            TFileStream stream(temp, TFileStream::Mode::Create);
            write(stream);
            if (!stream.Flush())
                throw EWriteError();
        }
        if (std::rename(temp.c_str(), targetName.c_str()) != 0)
            throw EFCreateError(fileName);
    } catch (...) {
        std::remove(temp.c_str());
        throw;
    }
}
