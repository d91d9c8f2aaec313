// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QColor>
#include <QString>

#include <cstdint>
#include <optional>
#include <string_view>

// What kind of entry a browsed row is, as its column and the treemap tell it.
enum class FileKind {
    Folder,
    Link,
    Special, // a FIFO, socket or device
    Executable,
    Image,
    Audio,
    Video,
    Archive,
    Document,
    Code,
    Other,
};

// The kind of a file from its mode where known (a link, a FIFO, an
// executable), else from its name's extension.
FileKind KindOfFile(std::string_view name, std::optional<uint32_t> nMode);
// The kind's text in the list: "Folder", "Image", ...; a special file says
// which ("FIFO", "Socket", "Character device", "Block device").
QString KindText(FileKind kind, std::optional<uint32_t> nMode);
// The colour of the kind in the treemap.
QColor KindColour(FileKind kind);
// A size as a person reads it: "512 bytes", "4.2 KiB", "1.0 GiB".
QString ReadableSize(uint64_t nBytes);
// A time in nanoseconds since 1970 UTC as local time, "2024-06-30 14:00:00".
QString LocalTimeText(int64_t nTimeNs);
