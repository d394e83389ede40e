#include "tools/kavrel-cli/RasterOutput.h"

#include "framework/AtomicFile.h"
#include "framework/Bitmap.h"
#include "framework/Exception.h"
#include "framework/FormatRegistry.h"
#include "framework/Picture.h"
#include "framework/PngEncoder.h"
#include "tools/kavrel-cli/PamFile.h"

namespace {

std::string Extension(const std::string& fileName)
{
    return LowerCaseAscii(FileExtension(fileName));
}

} // namespace

bool IsRasterOutput(const std::string& fileName)
{
    const std::string extension = Extension(fileName);
    return extension == "png" || extension == "bmp" || extension == "pam";
}

void WriteRasterOutput(const std::string& fileName, const TBitmap& bitmap)
{
    const std::string extension = Extension(fileName);
    if (extension == "png") {
        WriteFileAtomically(fileName, [&](TStream& s) { WritePng(s, bitmap); });
    } else if (extension == "pam") {
        WriteFileAtomically(fileName, [&](TStream& s) { WritePam(s, bitmap); });
    } else if (extension == "bmp") {
        TBitmap copy(bitmap); // saving is not const
        WriteFileAtomically(fileName, [&](TStream& s) { copy.SaveStream(s); });
    } else {
        throw Exception("Cannot write ." + extension + " files");
    }
}
