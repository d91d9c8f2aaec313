// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// How the path of an archive member reads wherever Kestrel shows one: the
// archive file's path, "//", and the member's path inside the archive; a
// member of an archive inside another adds "//" and its path inside that one
// ("/b/2019.zip//inner.tar//x.txt"). A file's path never holds "//" below its
// start directory, nor a member's path inside its archive.
inline constexpr std::string_view kMemberSeparator = "//";

// The longest path inside an archive that Kestrel stores and shows, in
// bytes, as long as the system's own paths may be: a longer one is no path
// any system would unpack, and the folders it implies would take memory
// that grows with the square of its depth.
inline constexpr size_t kMaxMemberPathBytes = 4096;

// archivePath + "//" + memberPath.
std::string JoinMemberPath(std::string_view archivePath, std::string_view memberPath);

// The parts of a path: the archive file's path, then the member path of
// each level; a path without "//" (after its first character, so "//x" is no
// member) gives itself alone. An empty part stays empty ("/b/x.zip//" gives
// "/b/x.zip" and "").
std::vector<std::string> SplitMemberPath(std::string_view path);
