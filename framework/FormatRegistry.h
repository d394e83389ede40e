#pragma once

#include <string>
#include <vector>

struct TGraphicClass;

// The picture container's list of file formats: extension (lower case, no dot), description, class.
// Entries are kept in registration order; lookups and the filter walk them newest first.
class TFileFormatsList {
public:
    struct Entry {
        std::string extension;
        std::string description;
        const TGraphicClass* graphicClass;
    };

    void Add(const std::string& extension, const std::string& description, const TGraphicClass& graphicClass);
    // Removes every entry whose class is graphicClass or derives from it.
    void Remove(const TGraphicClass& graphicClass);
    // The class of the newest entry for the extension (any letter case, without the dot); null if none.
    const TGraphicClass* FindExt(const std::string& extension) const;
    const std::vector<Entry>& Entries() const { return entries_; }
    void Clear() { entries_.clear(); }

private:
    std::vector<Entry> entries_;
};

// The open dialog's filter for a class: "全部 (patterns)|patterns|" then "description (*.ext)|*.ext"
// per entry of that class or a derived one, newest first.
std::string GraphicFilter(const TFileFormatsList& formats, const TGraphicClass& graphicClass);
// The extension of the newest entry whose class is exactly graphicClass; empty when none.
std::string GraphicExtension(const TFileFormatsList& formats, const TGraphicClass& graphicClass);

std::string LowerCaseAscii(std::string text);
