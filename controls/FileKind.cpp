// SPDX-License-Identifier: GPL-3.0-or-later

#include "controls/FileKind.h"

#include <QDateTime>

#include <algorithm>
#include <array>
#include <cctype>
#include <string>
#include <sys/stat.h>
#include <unordered_map>

namespace {

struct Extensions {
    FileKind kind;
    std::array<const char*, 16> names;
};

// Lower case, without the dot; a kind's list ends at its first null.
constexpr Extensions kExtensions[] = {
    {FileKind::Image,
     {"jpg", "jpeg", "png", "gif", "bmp", "tif", "tiff", "webp", "svg", "heic", "raw", "cr2", "nef",
      "ico", "xcf", "psd"}},
    {FileKind::Audio,
     {"mp3", "flac", "ogg", "opus", "wav", "m4a", "aac", "wma", "aiff", "mid", "ape"}},
    {FileKind::Video,
     {"mp4", "mkv", "avi", "mov", "webm", "wmv", "mpg", "mpeg", "m4v", "flv", "3gp", "ts", "vob"}},
    {FileKind::Archive,
     {"zip", "tar", "gz", "tgz", "bz2", "xz", "zst", "7z", "rar", "iso", "img", "deb", "rpm", "cab",
      "lz", "dmg"}},
    {FileKind::Document,
     {"pdf", "txt", "md", "doc", "docx", "odt", "xls", "xlsx", "ods", "ppt", "pptx", "odp", "rtf",
      "epub", "html", "htm"}},
    {FileKind::Code,
     {"c", "h", "cpp", "hpp", "cc", "py", "js", "ts", "rs", "go", "java", "sh", "rb", "pl", "cs",
      "php"}},
};

} // namespace

FileKind KindOfFile(std::string_view name, std::optional<uint32_t> nMode) {
    if (nMode) {
        if (S_ISDIR(*nMode))
            return FileKind::Folder;
        if (S_ISLNK(*nMode))
            return FileKind::Link;
        if (!S_ISREG(*nMode))
            return FileKind::Special;
    }
    const size_t nDot = name.find_last_of('.');
    if (nDot != std::string_view::npos && nDot > 0 && nDot + 1 < name.size() &&
        name.size() - nDot <= 8) {
        std::string strExtension(name.substr(nDot + 1));
        std::transform(strExtension.begin(), strExtension.end(), strExtension.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        // One lookup for each of the many files of a folder.
        static const std::unordered_map<std::string, FileKind> kinds = [] {
            std::unordered_map<std::string, FileKind> map;
            for (const Extensions& extensions : kExtensions)
                for (const char* pszName : extensions.names)
                    if (pszName)
                        map.emplace(pszName, extensions.kind); // the first kind named stands
            return map;
        }();
        if (const auto it = kinds.find(strExtension); it != kinds.end())
            return it->second;
    }
    if (nMode && (*nMode & 0111) != 0)
        return FileKind::Executable;
    return FileKind::Other;
}

QString KindText(FileKind kind, std::optional<uint32_t> nMode) {
    switch (kind) {
    case FileKind::Folder:
        return "Folder";
    case FileKind::Link:
        return "Link";
    case FileKind::Special:
        if (nMode && S_ISFIFO(*nMode))
            return "FIFO";
        if (nMode && S_ISSOCK(*nMode))
            return "Socket";
        if (nMode && S_ISCHR(*nMode))
            return "Character device";
        return "Block device";
    case FileKind::Executable:
        return "Executable";
    case FileKind::Image:
        return "Image";
    case FileKind::Audio:
        return "Audio";
    case FileKind::Video:
        return "Video";
    case FileKind::Archive:
        return "Archive";
    case FileKind::Document:
        return "Document";
    case FileKind::Code:
        return "Source code";
    case FileKind::Other:
        break;
    }
    return "File";
}

QColor KindColour(FileKind kind) {
    switch (kind) {
    case FileKind::Folder:
        return QColor(0x9a, 0xa5, 0xb1);
    case FileKind::Link:
    case FileKind::Special:
        return QColor(0xd0, 0xd0, 0xd0);
    case FileKind::Executable:
        return QColor(0xe0, 0x6c, 0x5a);
    case FileKind::Image:
        return QColor(0x5d, 0xb3, 0x6e);
    case FileKind::Audio:
        return QColor(0xb0, 0x7c, 0xd8);
    case FileKind::Video:
        return QColor(0x4f, 0x8f, 0xd6);
    case FileKind::Archive:
        return QColor(0xe8, 0xb3, 0x4b);
    case FileKind::Document:
        return QColor(0x4c, 0xc0, 0xc0);
    case FileKind::Code:
        return QColor(0xd8, 0x7c, 0xb0);
    case FileKind::Other:
        break;
    }
    return QColor(0xc8, 0xb8, 0x9a);
}

QString ReadableSize(uint64_t nBytes) {
    if (nBytes < 1024)
        return QString::number(nBytes) + (nBytes == 1 ? " byte" : " bytes");
    static const char* const kUnits[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    double dValue = static_cast<double>(nBytes) / 1024;
    size_t nUnit = 0;
    while (dValue >= 1024 && nUnit + 1 < std::size(kUnits)) {
        dValue /= 1024;
        ++nUnit;
    }
    return QString::number(dValue, 'f', dValue < 10 ? 1 : 0) + " " + kUnits[nUnit];
}

QString LocalTimeText(int64_t nTimeNs) {
    // Whole seconds towards the past, also before 1970.
    int64_t nSeconds = nTimeNs / 1000000000;
    if (nTimeNs % 1000000000 < 0)
        --nSeconds;
    return QDateTime::fromSecsSinceEpoch(nSeconds).toString("yyyy-MM-dd HH:mm:ss");
}
