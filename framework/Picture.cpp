#include "framework/Picture.h"

#include "framework/Exception.h"

TFileFormatsList& TPicture::Formats()
{
    static TFileFormatsList formats;
    return formats;
}

std::string FileExtension(const std::string& fileName)
{
    const size_t slash = fileName.find_last_of('/');
    const size_t dot = fileName.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return {};
    return fileName.substr(dot + 1);
}

void TPicture::LoadFromFile(const std::string& fileName)
{
    const std::string extension = FileExtension(fileName);
    const TGraphicClass* graphicClass = Formats().FindExt(extension);
    if (!graphicClass || !graphicClass->create)
        throw EInvalidGraphic::UnknownExtension(extension);
    std::unique_ptr<TGraphic> fresh = graphicClass->create();
    fresh->LoadFile(fileName);
    graphic_ = std::move(fresh);
}

void TPicture::SaveToFile(const std::string& fileName) const
{
    if (graphic_)
        graphic_->SaveToFile(fileName);
}
