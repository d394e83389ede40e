#include "framework/AtomicFile.h"

#include "framework/Exception.h"
#include "framework/Stream.h"

#include <cstdio>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

mode_t NewFileMode(const std::string& fileName)
{
    struct stat existing {};
    if (::stat(fileName.c_str(), &existing) == 0)
        return existing.st_mode & 07777;
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

}  // namespace

void WriteFileAtomically(const std::string& fileName, const std::function<void(TStream&)>& write)
{
    const fs::path path(fileName);
    const fs::path dir = path.has_parent_path() ? path.parent_path() : fs::path(".");
    std::string temp = (dir / ("." + path.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        throw EFCreateError(fileName);
    ::fchmod(fd, NewFileMode(fileName));
    ::close(fd);
    try {
        {
            TFileStream stream(temp, TFileStream::Mode::Create);
            write(stream);
            if (!stream.Flush())
                throw EWriteError();
        }
        if (std::rename(temp.c_str(), fileName.c_str()) != 0)
            throw EFCreateError(fileName);
    } catch (...) {
        std::remove(temp.c_str());
        throw;
    }
}
