#pragma once

#include <memory>
#include <string>

class TBitmap;
class TGraphic;
class TRowSink;
class TStream;

// A class reference: lets code ask at run time whether a graphic is of a class or derives from it,
// and create a new object of a class found in the format registry.
struct TGraphicClass {
    const char* name;
    const TGraphicClass* parent;
    std::unique_ptr<TGraphic> (*create)();

    bool InheritsFrom(const TGraphicClass& ancestor) const
    {
        for (const TGraphicClass* c = this; c; c = c->parent)
            if (c == &ancestor)
                return true;
        return false;
    }
};

// The base of every picture class: a bitmap, a JPEG picture, an icon, a metafile, a reader.
class TGraphic {
public:
    virtual ~TGraphic() = default;

    static const TGraphicClass& StaticClass();
    virtual const TGraphicClass& ClassType() const = 0;
    const char* ClassName() const { return ClassType().name; }
    // A copy of the same class.
    virtual std::unique_ptr<TGraphic> Clone() const = 0;

    // Replaces the contents with the picture in the stream, read from its current position.
    virtual void LoadStream(TStream& stream) = 0;
    // Writes the picture in its class's own format.
    virtual void SaveStream(TStream& stream) = 0;
    // Opens the file for shared reading and loads it.
    virtual void LoadFile(const std::string& fileName);
    // Saves into the file through a temporary file beside it (framework/AtomicFile.h), so a failure
    // leaves an existing file as it was. When the graphic is empty or SaveStream writes nothing, no
    // file is made and an existing one is left alone. Classes whose output depends on the name
    // override this.
    virtual void SaveToFile(const std::string& fileName);

    // Lets the next load hand the picture's rows to the sink as they are made instead of keeping them
    // (framework/RowSink.h), where the class's reader writes each row once, top row first: true then,
    // and the graphic is empty after the load. False where it cannot: the load keeps the picture.
    virtual bool StreamRowsTo(TRowSink*) { return false; }

    // The picture as a raster, for display and conversion; null for classes that draw themselves.
    virtual const TBitmap* DisplayBitmap() const { return nullptr; }

    virtual bool Empty() const = 0;
    virtual int Width() const = 0;
    virtual int Height() const = 0;

protected:
    TGraphic() = default;
    TGraphic(const TGraphic&) = default;
    TGraphic& operator=(const TGraphic&) = default;
};

// Declares the class reference members of a graphic class; pair with KAVREL_DEFINE_GRAPHIC_CLASS.
#define KAVREL_DECLARE_GRAPHIC_CLASS(Class)                                                        \
public:                                                                                            \
    static const TGraphicClass& StaticClass();                                                     \
    const TGraphicClass& ClassType() const override { return StaticClass(); }                      \
    std::unique_ptr<TGraphic> Clone() const override { return std::make_unique<Class>(*this); }

#define KAVREL_DEFINE_GRAPHIC_CLASS(Class, Parent)                                                 \
    const TGraphicClass& Class::StaticClass()                                                      \
    {                                                                                              \
        static const TGraphicClass info{#Class, &Parent::StaticClass(),                            \
                                        []() -> std::unique_ptr<TGraphic> { return std::make_unique<Class>(); }}; \
        return info;                                                                               \
    }
