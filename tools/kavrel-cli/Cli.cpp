#include "tools/kavrel-cli/Cli.h"

#include "codecs/GraphicFormats.h"
#include "framework/AtomicFile.h"
#include "framework/Bitmap.h"
#include "framework/Exception.h"
#include "framework/Metafile.h"
#include "framework/Picture.h"
#include "framework/Stream.h"
#include "tools/kavrel-cli/PamFile.h"
#include "tools/kavrel-cli/RasterOutput.h"

#include <algorithm>
#include <functional>

namespace {

const char kUsage[] = "usage: kavrel-cli COMMAND [ARGS]\n"
                      "       kavrel-cli COMMAND --help    a command's options\n"
                      "\n"
                      "commands:\n";

const char kStatusText[] = "\n"
                           "exit status: 0 success; 1 failure, with kavrel-cli: MESSAGE on standard error;\n"
                           "2 wrong usage, with a one-line hint\n";

int Formats(const std::vector<std::string>& args, std::ostream& out)
{
    if (!args.empty())
        throw UsageError("formats takes no arguments");
    const auto& entries = TPicture::Formats().Entries();
    for (auto it = entries.rbegin(); it != entries.rend(); ++it)
        out << it->extension << '\t' << it->description << '\t' << it->graphicClass->name << '\n';
    return 0;
}

int Info(const std::vector<std::string>& files, std::ostream& out, std::ostream& err)
{
    if (files.empty())
        throw UsageError("info needs at least one FILE");
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

CliMetafileRenderer& MetafileRenderer()
{
    static CliMetafileRenderer renderer;
    return renderer;
}

TBitmap RenderMetafileForCli(const TMetafile& metafile)
{
    if (!MetafileRenderer())
        throw Exception("Cannot render metafiles: this kavrel-cli runs without Qt");
    return MetafileRenderer()(metafile);
}

// The class that writes OUT when it is not one of the raster outputs; refused before anything is read.
const TGraphicClass* ConvertTarget(const std::string& out)
{
    if (IsRasterOutput(out))
        return nullptr;
    const std::string extension = LowerCaseAscii(FileExtension(out));
    const TGraphicClass* target = TPicture::Formats().FindExt(extension);
    if (!target || !target->InheritsFrom(TBitmap::StaticClass()))
        throw UsageError("cannot write ." + extension + " files");
    return target;
}

// A PAM file from a picture whose reader can pass its rows on (TGraphic::StreamRowsTo): written as
// the rows come, so that the picture is never held whole. False, with nothing done, for the others.
bool ConvertStreamingToPam(const std::string& in, const std::string& out)
{
    if (LowerCaseAscii(FileExtension(out)) != "pam")
        return false;
    const TGraphicClass* source = TPicture::Formats().FindExt(FileExtension(in));
    if (!source || !source->create)
        return false;
    std::unique_ptr<TGraphic> graphic = source->create();
    TPamWriter probe;
    if (!graphic->StreamRowsTo(&probe))
        return false;
    WriteOutput(out, [&](TStream& stream) {
        // The writer's thread is done with the stream when the writer goes, before the stream does.
        TPamWriter pam(&stream);
        graphic->StreamRowsTo(&pam);
        graphic->LoadFile(in);
        if (!pam.Started() || pam.Width() == 0 || pam.Height() == 0)
            throw Exception("The picture in " + in + " is empty");
    });
    return true;
}

int Convert(const std::vector<std::string>& args)
{
    if (args.size() != 2)
        throw UsageError("convert needs IN and OUT");
    const TGraphicClass* target = ConvertTarget(args[1]);
    if (ConvertStreamingToPam(args[0], args[1]))
        return 0;
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

    if (!target) {
        WriteRasterOutput(args[1], *bitmap);
        return 0;
    }
    // A picture of the target's own class writes itself, with whatever else it carries (a Targa
    // picture's identification text); any other picture is handed over as pixels.
    std::unique_ptr<TGraphic> graphic = picture.Graphic()->Clone();
    if (&graphic->ClassType() != target) {
        graphic = target->create();
        dynamic_cast<TBitmap&>(*graphic).Assign(*bitmap);
    }
    WriteOutput(args[1], [&](TStream& s) { graphic->SaveStream(s); });
    return 0;
}

const std::vector<CliCommand>& CoreCommands()
{
    static const std::vector<CliCommand> commands = {
        { "formats", "  formats               list the registered picture formats\n",
            "usage: kavrel-cli formats\n"
            "\n"
            "Lists the registered picture formats, newest first, one a line:\n"
            "EXTENSION<TAB>DESCRIPTION<TAB>CLASS. A file is read by the class registered for its\n"
            "extension.\n"
            "\n"
            "options:\n"
            "  -h, --help    show this text\n",
            [](const std::vector<std::string>& args, std::ostream& out, std::ostream&) { return Formats(args, out); } },
        { "info", "  info FILE...          describe picture files\n",
            "usage: kavrel-cli info FILE...\n"
            "\n"
            "Reads each FILE by its extension and prints FILE: CLASS WIDTHxHEIGHT FORMAT palette=N,\n"
            "where FORMAT is the pixel format of its raster (- when it has none) and N the number of\n"
            "palette entries. A file that cannot be read is reported on standard error, the others\n"
            "are still described, and the exit status is 1.\n"
            "\n"
            "options:\n"
            "  -h, --help    show this text\n",
            &Info },
        { "convert", "  convert IN OUT        convert a picture file (to .png, .bmp, .pam, .tga)\n",
            "usage: kavrel-cli convert IN OUT\n"
            "\n"
            "Reads IN by its extension (see kavrel-cli formats) and writes OUT by its extension:\n"
            "  .png    PNG; grey and palette pictures stay grey and palette, pictures with alpha\n"
            "          become RGBA, the others RGB\n"
            "  .bmp    Windows bitmap in the picture's own pixel format\n"
            "  .pam    PAM image, RGB or RGB_ALPHA\n"
            "  other   a registered format whose class writes, such as .tga\n"
            "Metafiles are rendered at their own size on white. OUT is replaced only when the\n"
            "whole picture was written.\n"
            "\n"
            "options:\n"
            "  -h, --help    show this text\n",
            [](const std::vector<std::string>& args, std::ostream&, std::ostream&) { return Convert(args); } },
    };
    return commands;
}

std::vector<CliCommand>& RegisteredCommands()
{
    static std::vector<CliCommand> commands;
    return commands;
}

bool IsHelp(const std::string& arg)
{
    return arg == "--help" || arg == "-h";
}

// The core's commands, then the registered ones.
std::vector<const CliCommand*> AllCommands()
{
    std::vector<const CliCommand*> all;
    for (const CliCommand& command : CoreCommands())
        all.push_back(&command);
    for (const CliCommand& command : RegisteredCommands())
        all.push_back(&command);
    return all;
}

const CliCommand* FindCommand(const std::string& name)
{
    for (const CliCommand* command : AllCommands())
        if (command->name == name)
            return command;
    return nullptr;
}

void WriteUsage(std::ostream& out)
{
    out << kUsage;
    for (const CliCommand* command : AllCommands())
        out << command->summary;
    out << kStatusText;
}

}  // namespace

void RegisterCliCommand(CliCommand command)
{
    RegisteredCommands().push_back(std::move(command));
}

void SetCliMetafileRenderer(CliMetafileRenderer renderer)
{
    MetafileRenderer() = std::move(renderer);
}

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    std::string helpHint = "kavrel-cli --help";
    try {
        if (args.empty())
            throw UsageError("no command given");
        EnsureAllFormatsRegistered();
        const bool helpCommand = args[0] == "help" || IsHelp(args[0]);
        if (helpCommand && args.size() == 1) {
            WriteUsage(out);
            return kExitSuccess;
        }
        const std::string& name = helpCommand ? args[1] : args[0];
        const CliCommand* command = FindCommand(name);
        if (!command)
            throw UsageError("unknown command '" + name + "'");
        helpHint = "kavrel-cli " + name + " --help";
        const std::vector<std::string> rest(args.begin() + 1, args.end());
        if (helpCommand || std::any_of(rest.begin(), rest.end(), IsHelp)) {
            out << command->help;
            return kExitSuccess;
        }
        return command->run(rest, out, err);
    } catch (const UsageError& e) {
        err << "kavrel-cli: " << e.Message() << " (see " << helpHint << ")\n";
        return kExitUsage;
    } catch (const Exception& e) {
        err << "kavrel-cli: " << e.Message() << '\n';
    } catch (const std::exception& e) {
        err << "kavrel-cli: " << e.what() << '\n';
    }
    return kExitFailure;
}
