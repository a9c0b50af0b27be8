// The gallery's HTML pages, built as text in one pass over the entries.
#include "extractor/GalleryPage.h"

#include "archive/MipTexture.h"

#include <cstdio>

namespace {

constexpr char kStyle[] =
    "body{margin:16px;font:14px/1.4 sans-serif;color:#222;background:#f2f2f2}\n"
    "h1{margin:0;font-size:20px;white-space:pre-wrap;overflow-wrap:anywhere}\n"
    "h2{font-size:16px}\n"
    ".tiles{display:flex;flex-wrap:wrap;gap:12px;align-items:flex-start}\n"
    ".tile{box-sizing:content-box;width:256px;margin:0;padding:8px;background:#fff;border:1px solid #ccc}\n"
    ".tile img{display:block;max-width:100%;height:auto;image-rendering:pixelated;"
    "background:repeating-conic-gradient(#c0c0c0 0 25%,#fff 0 50%) 0 0/16px 16px}\n"
    ".none{padding:16px 0;color:#888}\n"
    "figcaption{margin-top:6px}\n"
    "figcaption>span{display:block}\n"
    ".name{font-weight:bold;white-space:pre-wrap;overflow-wrap:anywhere}\n"
    ".swatch{display:inline-block;width:12px;height:12px;margin-right:6px;border:1px solid #666;"
    "vertical-align:middle}\n";

constexpr char kPngExtension[] = ".png";

// Control pictures start at U+2400 (for U+0000); DEL's is U+2421.
constexpr unsigned kControlPictures = 0x2400;
constexpr unsigned kDeletePicture = 0x2421;
constexpr unsigned char kDelete = 0x7F;
constexpr unsigned char kFirstPrintable = 0x20;

// The lead bytes of multi-byte UTF-8 sequences: range, length, the lead's payload bits
// and the smallest code point that needs this length.
struct Utf8Lead {
    unsigned first, last;
    size_t length;
    unsigned payload, smallest;
};
constexpr Utf8Lead kUtf8Leads[] = {{0xC2, 0xDF, 2, 0x1F, 0x80}, {0xE0, 0xEF, 3, 0x0F, 0x800},
                                   {0xF0, 0xF4, 4, 0x07, 0x10000}};
constexpr unsigned kLargestCodePoint = 0x10FFFF;

// Length of the UTF-8 sequence at text[at], or 0 when it is not a valid one (overlong
// forms, surrogates and code points past U+10FFFF included).
size_t Utf8SequenceLength(const std::string& text, size_t at)
{
    const unsigned lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80)
        return 1;
    for (const Utf8Lead& form : kUtf8Leads) {
        if (lead < form.first || lead > form.last)
            continue;
        if (text.size() - at < form.length)
            return 0;
        unsigned codePoint = lead & form.payload;
        for (size_t i = 1; i < form.length; ++i) {
            const unsigned next = static_cast<unsigned char>(text[at + i]);
            if ((next & 0xC0) != 0x80)
                return 0;
            codePoint = (codePoint << 6) | (next & 0x3F);
        }
        const bool surrogate = codePoint >= 0xD800 && codePoint <= 0xDFFF;
        return codePoint < form.smallest || surrogate || codePoint > kLargestCodePoint ? 0 : form.length;
    }
    return 0;
}

bool IsUtf8(const std::string& text)
{
    for (size_t at = 0; at < text.size();) {
        const size_t length = Utf8SequenceLength(text, at);
        if (length == 0)
            return false;
        at += length;
    }
    return true;
}

bool EndsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::string NumericReference(unsigned codePoint)
{
    char text[16];
    std::snprintf(text, sizeof text, "&#x%X;", codePoint);
    return text;
}

std::string Count(uint64_t count, const char* one, const char* many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

const char* FormatWords(int32_t format)
{
    switch (format) {
    case TEX_INDEXED8:
        return "palette";
    case TEX_RGB24:
        return "RGB";
    case TEX_RGBA32:
        return "RGBA";
    default:
        return DxtFormatName(format) ? DxtFormatName(format) : "unknown format";
    }
}

std::string HexColour(const GalleryEntry& entry)
{
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", entry.averageRed, entry.averageGreen, entry.averageBlue);
    return text;
}

// The document's start, up to and including the opening of its body.
std::string PageStart(const std::string& title)
{
    return "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>" +
           HtmlText(title) + "</title>\n<style>\n" + kStyle + "</style>\n</head>\n<body>\n";
}

constexpr char kPageEnd[] = "</body>\n</html>\n";

std::string Tile(const GalleryEntry& entry)
{
    std::string tile = "<figure class=\"tile\">\n";
    const std::string url = UrlPath(entry.imageFile);
    if (entry.imageFile.empty()) {
        tile += "<div class=\"none\">no image</div>\n";
    } else if (!EndsWith(entry.imageFile, kPngExtension)) {
        tile += "<div class=\"none\"><a href=\"" + url + "\">" + HtmlText(entry.imageFile) + "</a></div>\n";
    } else {
        tile += "<a href=\"" + url + "\"><img src=\"" + url + "\" width=\"" + std::to_string(entry.width) +
                "\" height=\"" + std::to_string(entry.height) + "\" alt=\"" + HtmlText(entry.name) + "\"></a>\n";
    }
    tile += "<figcaption>\n<span class=\"name\">" + HtmlText(entry.name) + "</span>\n<span>" +
            std::to_string(entry.width) + " \xC3\x97 " + std::to_string(entry.height) + "</span>\n<span>" +
            FormatWords(entry.format);
    if (entry.format == TEX_INDEXED8)
        tile += entry.ownPalette ? ", own palette" : ", shared palette";
    tile += "</span>\n";
    if (entry.hasAverage) {
        const std::string colour = HexColour(entry);
        tile += "<span><span class=\"swatch\" style=\"background:" + colour + "\"></span>average " + colour +
                "</span>\n";
    }
    return tile + "</figcaption>\n</figure>\n";
}

}  // namespace

std::string HtmlText(const std::string& bytes)
{
    const bool utf8 = IsUtf8(bytes);
    std::string text;
    for (const char c : bytes) {
        const unsigned char byte = static_cast<unsigned char>(c);
        switch (c) {
        case '<':
            text += "&lt;";
            break;
        case '>':
            text += "&gt;";
            break;
        case '&':
            text += "&amp;";
            break;
        case '"':
            text += "&quot;";
            break;
        case '\'':
            text += "&#39;";
            break;
        default:
            if (byte < kFirstPrintable)
                text += NumericReference(kControlPictures + byte);
            else if (byte == kDelete)
                text += NumericReference(kDeletePicture);
            else if (byte > kDelete && !utf8)
                text += NumericReference(byte);
            else
                text += c;
        }
    }
    return text;
}

std::string UrlPath(const std::string& fileName)
{
    static const char kHexDigits[] = "0123456789ABCDEF";
    std::string url;
    for (const char c : fileName) {
        const unsigned char byte = static_cast<unsigned char>(c);
        const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                                c == '-' || c == '.' || c == '_' || c == '~';
        if (unreserved) {
            url += c;
        } else {
            url += '%';
            url += kHexDigits[byte >> 4];
            url += kHexDigits[byte & 0xF];
        }
    }
    return url;
}

std::string GalleryPackagePage(const GalleryPackage& package)
{
    std::string page = PageStart(package.fileName);
    page += "<h1>" + HtmlText(package.fileName) + "</h1>\n<p>" +
            Count(package.entries.size(), "entry", "entries") + "</p>\n<main class=\"tiles\">\n";
    std::string others;
    for (const GalleryEntry& entry : package.entries) {
        if (entry.texture)
            page += Tile(entry);
        else
            others += "<li><span class=\"name\">" + HtmlText(entry.name) + "</span> " +
                      Count(entry.size, "byte", "bytes") + "</li>\n";
    }
    page += "</main>\n";
    if (!others.empty())
        page += "<h2>Other entries</h2>\n<ul>\n" + others + "</ul>\n";
    return page + kPageEnd;
}

std::string GalleryIndexPage(const std::vector<GalleryLink>& packages)
{
    std::string page = PageStart("Packages") + "<h1>Packages</h1>\n<ul>\n";
    for (const GalleryLink& link : packages)
        page += "<li><a href=\"" + UrlPath(link.folder) + "/index.html\">" + HtmlText(link.fileName) + "</a> " +
                Count(link.entryCount, "entry", "entries") + "</li>\n";
    return page + "</ul>\n" + kPageEnd;
}
