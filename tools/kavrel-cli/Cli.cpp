#include "tools/kavrel-cli/Cli.h"

#include "codecs/GraphicFormats.h"
#include "framework/AtomicFile.h"
#include "framework/Bitmap.h"
#include "framework/Exception.h"
#include "framework/Metafile.h"
#include "framework/Picture.h"
#include "framework/Stream.h"
#include "tools/kavrel-cli/PamFile.h"

#ifdef KAVREL_WITH_DISPLAY
#include "app/display/ImageConversion.h"
#include "app/display/MetafileRendering.h"
#include "app/display/OffscreenGui.h"
#endif

#include <functional>

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

// Writes OUT in place of any earlier file only when the whole picture was written.
void WriteOutput(const std::string& target, const std::function<void(TStream&)>& write)
{
    WriteFileAtomically(target, [&](TStream& stream) {
        write(stream);
        if (stream.Size() == 0)
            throw Exception("Nothing was written for " + target);
    });
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
        WriteOutput(args[1], [&](TStream& s) { WritePam(s, *bitmap); });
    } else if (extension == "bmp") {
        TBitmap copy(*bitmap);
        WriteOutput(args[1], [&](TStream& s) { copy.SaveStream(s); });
    } else {
        const TGraphicClass* target = TPicture::Formats().FindExt(extension);
        if (!target || !target->InheritsFrom(TBitmap::StaticClass()))
            throw Exception("Cannot write ." + extension + " files");
        // A picture of the target's own class writes itself, with whatever else it carries (a
        // Targa picture's identification text); any other picture is handed over as pixels.
        std::unique_ptr<TGraphic> graphic = picture.Graphic()->Clone();
        if (&graphic->ClassType() != target) {
            graphic = target->create();
            dynamic_cast<TBitmap&>(*graphic).Assign(*bitmap);
        }
        WriteOutput(args[1], [&](TStream& s) { graphic->SaveStream(s); });
    }
    return 0;
}

std::vector<CliCommand>& RegisteredCommands()
{
    static std::vector<CliCommand> commands;
    return commands;
}

}  // namespace

void RegisterCliCommand(CliCommand command)
{
    RegisteredCommands().push_back(std::move(command));
}

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    if (args.empty()) {
        err << kUsage;
        for (const CliCommand& extra : RegisteredCommands())
            err << extra.usage;
        return 1;
    }
    const std::string& command = args[0];
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    try {
        EnsureAllFormatsRegistered();
        if (command == "--help" || command == "-h" || command == "help") {
            out << kUsage;
            for (const CliCommand& extra : RegisteredCommands())
                out << extra.usage;
            return 0;
        }
        if (command == "formats")
            return Formats(out);
        if (command == "info")
            return Info(rest, out, err);
        if (command == "convert")
            return Convert(rest);
        for (const CliCommand& extra : RegisteredCommands())
            if (command == extra.name)
                return extra.run(rest, out, err);
        throw UsageError("unknown command '" + command + "' (see kavrel-cli --help)");
    } catch (const Exception& e) {
        err << "kavrel-cli: " << e.Message() << '\n';
    } catch (const std::exception& e) {
        err << "kavrel-cli: " << e.what() << '\n';
    }
    return 1;
}
