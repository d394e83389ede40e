#include "framework/FormatRegistry.h"

#include "framework/Graphic.h"

#include <algorithm>

std::string LowerCaseAscii(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

void TFileFormatsList::Add(const std::string& extension, const std::string& description,
                           const TGraphicClass& graphicClass)
{
    entries_.push_back({LowerCaseAscii(extension), description, &graphicClass});
}

void TFileFormatsList::Remove(const TGraphicClass& graphicClass)
{
    std::erase_if(entries_, [&](const Entry& e) { return e.graphicClass->InheritsFrom(graphicClass); });
}

const TGraphicClass* TFileFormatsList::FindExt(const std::string& extension) const
{
    const std::string wanted = LowerCaseAscii(extension);
    for (auto it = entries_.rbegin(); it != entries_.rend(); ++it)
        if (it->extension == wanted)
            return it->graphicClass;
    return nullptr;
}

std::string GraphicFilter(const TFileFormatsList& formats, const TGraphicClass& graphicClass)
{
    std::string descriptions;
    std::string patterns;
    int kept = 0;
    const auto& entries = formats.Entries();
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
        if (it->extension.empty() || !it->graphicClass->InheritsFrom(graphicClass))
            continue;
        if (kept++ > 0) {
            descriptions += '|';
            patterns += ';';
        }
        descriptions += it->description + " (*." + it->extension + ")|*." + it->extension;
        patterns += "*." + it->extension;
    }
    if (kept > 1)
        return "全部 (" + patterns + ")|" + patterns + "|" + descriptions;
    return descriptions;
}

std::string GraphicExtension(const TFileFormatsList& formats, const TGraphicClass& graphicClass)
{
    const auto& entries = formats.Entries();
    for (auto it = entries.rbegin(); it != entries.rend(); ++it)
        if (it->graphicClass == &graphicClass)
            return it->extension;
    return {};
}
