#include "framework/Graphic.h"

#include "framework/AtomicFile.h"
#include "framework/Exception.h"
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

void TGraphic::SaveToFile(const std::string& fileName)
{
    if (Empty())
        return;
    WriteFileAtomically(fileName, [this](TStream& stream) {
        SaveStream(stream);
        // A picture is never replaced by an empty file.
        if (stream.Size() == 0)
            throw EWriteError();
    });
}
