#include "framework/Graphic.h"

#include "framework/AtomicFile.h"
#include "framework/Stream.h"

const TGraphicClass& TGraphic::StaticClass()
{
    static const TGraphicClass info{"TGraphic", nullptr, nullptr};
    return info;
}

void TGraphic::LoadFile(const std::string& fileName)
{
    TFileStream stream(fileName, TFileStream::Mode::OpenRead);
    LoadStream(stream);
}

namespace {

// Raised inside the write when the graphic wrote nothing, so that no file is made.
struct TNothingWritten {};

}  // namespace

void TGraphic::SaveToFile(const std::string& fileName)
{
    if (Empty())
        return;
    try {
        WriteFileAtomically(fileName, [this](TStream& stream) {
            SaveStream(stream);
            // A writer that wrote nothing has declined (the Targa writer when the user refuses to
            // convert the colours); an empty file would only destroy what the name held.
            if (stream.Size() == 0)
                throw TNothingWritten();
        });
    } catch (const TNothingWritten&) {
    }
}
