#include "tools/kavrel-cli/QtHandOver.h"

#include "codecs/GraphicFormats.h"
#include "framework/Metafile.h"
#include "framework/Picture.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <unistd.h>

namespace {

bool IsHelp(const std::string& arg)
{
    return arg == "--help" || arg == "-h" || arg == "help";
}

// kavrel-cli-qt lies beside kavrel-cli.
std::string QtToolPath()
{
    char self[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0)
        return "kavrel-cli-qt";
    const std::string path(self, static_cast<size_t>(length));
    return path.substr(0, path.rfind('/') + 1) + "kavrel-cli-qt";
}

} // namespace

bool NeedsQtTool(const std::vector<std::string>& args)
{
    if (args.empty())
        return false;
    if (args[0] == "capture" || (IsHelp(args[0]) && (args.size() == 1 || args[1] == "capture")))
        return true;
    if (args[0] != "convert" || args.size() != 3 || IsHelp(args[1]) || IsHelp(args[2]))
        return false;
    EnsureAllFormatsRegistered();
    const TGraphicClass* reader = TPicture::Formats().FindExt(FileExtension(args[1]));
    return reader && reader->InheritsFrom(TMetafile::StaticClass());
}

bool AsksOnlyForHelp(const std::vector<std::string>& args)
{
    return !args.empty() && IsHelp(args[0]) && (args.size() == 1 || args[1] != "capture");
}

std::string RunQtTool(char** argv)
{
    const std::string path = QtToolPath();
    ::execv(path.c_str(), argv);
    return "cannot run " + path + ": " + std::strerror(errno);
}
