#include "framework/Graphic.h"

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
    TFileStream stream(fileName, TFileStream::Mode::Create);
    SaveStream(stream);
}
