#include "tools/kavrel-cli/Cli.h"

#include "codecs/GraphicFormats.h"
#include "framework/Bitmap.h"
#include "framework/Exception.h"
#include "framework/FrameworkFormats.h"
#include "framework/Metafile.h"
#include "framework/Picture.h"
#include "framework/Stream.h"
#include "tools/kavrel-cli/PamFile.h"

#ifdef KAVREL_WITH_DISPLAY
#include "app/display/ImageConversion.h"
#include "app/display/MetafileRendering.h"
#include "app/display/OffscreenGui.h"
#endif

#include <cstdio>
#include <filesystem>
#include <functional>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const char kUsage[] =
    "usage: kavrel-cli COMMAND [ARGS]\n"
    "\n"
    "commands:\n"
    "  formats               list the registered picture formats, newest first:\n"
    "                        EXTENSION<TAB>DESCRIPTION<TAB>CLASS\n"
    "  info FILE...          print FILE: CLASS WIDTHxHEIGHT FORMAT palette=N for each file\n"
    "  convert IN OUT        read IN by its extension and write OUT by its extension:\n"
    "                        .bmp a Windows bitmap, .pam a PAM image, or any registered\n"
    "                        format whose class writes (for example .tga); metafiles are\n"
    "                        rendered at their own size on white\n"
    "  --help                show this text\n";

class UsageError : public Exception {
    using Exception::Exception;
};

void EnsureRegistered()
{
    static const bool registered = [] {
        RegisterFrameworkFormats();
        RegisterGraphicFormats();
        return true;
    }();
    (void)registered;
}

int Formats(std::ostream& out)
{
    const auto& entries = TPicture::Formats().Entries();
    for (auto it = entries.rbegin(); it != entries.rend(); ++it)
        out << it->extension << '\t' << it->description << '\t' << it->graphicClass->name << '\n';
    return 0;
}

int Info(const std::vector<std::string>& files, std::ostream& out, std::ostream& err)
{
    if (files.empty())
        throw UsageError("info needs at least one file");
    int status = 0;
    for (const std::string& file : files) {
        try {
            TPicture picture;
            picture.LoadFromFile(file);
            const TGraphic* graphic = picture.Graphic();
            const TBitmap* bitmap = graphic->DisplayBitmap();
            out << file << ": " << graphic->ClassName() << ' ' << graphic->Width() << 'x' << graphic->Height() << ' '
                << (bitmap ? PixelFormatName(bitmap->PixelFormat()) : "-") << " palette="
                << (bitmap && bitmap->Palette() ? bitmap->Palette()->Count() : 0) << '\n';
        } catch (const Exception& e) {
            err << "kavrel-cli: " << file << ": " << e.Message() << '\n';
            status = 1;
        }
    }
    return status;
}

// Writes through a temporary file beside the target and renames it into place, so a failure
// never leaves a partial or empty target behind.
void WriteAtomically(const std::string& target, const std::function<void(TStream&)>& write)
{
    const fs::path path(target);
    const fs::path dir = path.has_parent_path() ? path.parent_path() : fs::path(".");
    std::string temp = (dir / ("." + path.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        throw EFCreateError(target);
    ::close(fd);
    try {
        {
            TFileStream stream(temp, TFileStream::Mode::Create);
            write(stream);
            if (stream.Size() == 0)
                throw Exception("Nothing was written for " + target);
            if (!stream.Flush())
                throw EWriteError();
        }
        std::error_code error;
        fs::rename(temp, target, error);
        if (error)
            throw EFCreateError(target);
    } catch (...) {
        std::remove(temp.c_str());
        throw;
    }
}

TBitmap RenderMetafileForCli(const TMetafile& metafile)
{
#ifdef KAVREL_WITH_DISPLAY
    EnsureOffscreenGuiApplication();
    return QImageToBitmap(RenderMetafile(metafile));
#else
    (void)metafile;
    throw Exception("Cannot render metafiles: kavrel-cli was built without Qt (KAVREL_BUILD_APP=OFF)");
#endif
}

int Convert(const std::vector<std::string>& args)
{
    if (args.size() != 2)
        throw UsageError("convert needs IN and OUT");
    TPicture picture;
    picture.LoadFromFile(args[0]);
    const TBitmap* bitmap = picture.Graphic()->DisplayBitmap();
    TBitmap rendered;
    if (const auto* metafile = dynamic_cast<const TMetafile*>(picture.Graphic())) {
        rendered = RenderMetafileForCli(*metafile);
        bitmap = &rendered;
    }
    if (!bitmap)
        throw Exception("No raster image in " + args[0]);
    if (bitmap->Empty())
        throw Exception("The picture in " + args[0] + " is empty");

    const std::string extension = LowerCaseAscii(FileExtension(args[1]));
    if (extension == "pam") {
        WriteAtomically(args[1], [&](TStream& s) { WritePam(s, *bitmap); });
    } else if (extension == "bmp") {
        TBitmap copy(*bitmap);
        WriteAtomically(args[1], [&](TStream& s) { copy.SaveStream(s); });
    } else {
        const TGraphicClass* target = TPicture::Formats().FindExt(extension);
        if (!target || !target->InheritsFrom(TBitmap::StaticClass()))
            throw Exception("Cannot write ." + extension + " files");
        std::unique_ptr<TGraphic> graphic = target->create();
        dynamic_cast<TBitmap&>(*graphic).Assign(*bitmap);
        WriteAtomically(args[1], [&](TStream& s) { graphic->SaveStream(s); });
    }
    return 0;
}

}  // namespace

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    if (args.empty()) {
        err << kUsage;
        return 1;
    }
    const std::string& command = args[0];
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    try {
        EnsureRegistered();
        if (command == "--help" || command == "-h" || command == "help") {
            out << kUsage;
            return 0;
        }
        if (command == "formats")
            return Formats(out);
        if (command == "info")
            return Info(rest, out, err);
        if (command == "convert")
            return Convert(rest);
        throw UsageError("unknown command '" + command + "' (see kavrel-cli --help)");
    } catch (const Exception& e) {
        err << "kavrel-cli: " << e.Message() << '\n';
    } catch (const std::exception& e) {
        err << "kavrel-cli: " << e.what() << '\n';
    }
    return 1;
}
