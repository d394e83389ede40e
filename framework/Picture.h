#pragma once

#include "framework/FormatRegistry.h"
#include "framework/Graphic.h"

#include <memory>
#include <string>

// Holds at most one graphic of any registered class; loads files by their extension.
class TPicture {
public:
    TPicture() = default;
    TPicture(const TPicture& other) { Assign(other); }
    TPicture& operator=(const TPicture& other)
    {
        Assign(other);
        return *this;
    }

    TGraphic* Graphic() const { return graphic_.get(); }
    // Stores a copy of the graphic (of the same class); null empties the picture.
    void SetGraphic(const TGraphic* graphic) { graphic_ = graphic ? graphic->Clone() : nullptr; }
    void Assign(const TPicture& other) { SetGraphic(other.Graphic()); }

    // Creates a graphic of the class registered for the file's extension and lets it read the
    // file. When that fails the new graphic is dropped and the picture keeps what it held.
    void LoadFromFile(const std::string& fileName);
    // The graphic writes itself in its own class's format; an empty picture writes nothing and
    // creates no file. A failed write leaves an existing file as it was.
    void SaveToFile(const std::string& fileName) const;

    int Width() const { return graphic_ ? graphic_->Width() : 0; }
    int Height() const { return graphic_ ? graphic_->Height() : 0; }

    // The process-wide format registry.
    static TFileFormatsList& Formats();
    static void RegisterFormat(const std::string& extension, const std::string& description,
                               const TGraphicClass& graphicClass)
    {
        Formats().Add(extension, description, graphicClass);
    }
    static void UnregisterFormatClass(const TGraphicClass& graphicClass) { Formats().Remove(graphicClass); }

private:
    std::unique_ptr<TGraphic> graphic_;
};

// The extension of a file name as written, without its dot; empty when there is none.
std::string FileExtension(const std::string& fileName);
