// Media discovery: lists every file below a directory and picks the song and the
// pictures from that list by their names alone. No file is opened here.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace morvelta {

// Every entry below the listed directory that is not descended into, in listing order.
using FileList = std::vector<std::string>;

// The picture entries of a FileList, in its order; they point into the FileList,
// which must outlive this list.
using PictureList = std::vector<std::string_view>;

// Lists `dir` depth first: each directory's entries in the order the platform yields
// them, a subdirectory's files at the place where the subdirectory was met. Links are
// listed as files and never followed. Any unreadable directory or entry, or a name
// that is not valid UTF-8, stops the program.
FileList collect_files(std::string_view dir);

// Whether the path's name ends in ".mp3" or ".ogg", in any letter case.
bool is_music_file(std::string_view path);

// Whether the path's name ends in ".jpg" or ".png", in any letter case.
bool is_picture_file(std::string_view path);

// The first music file of the list, or nullptr when there is none.
const std::string* choose_music(const FileList& files);

// Every picture file of the list, in list order.
PictureList choose_pictures(const FileList& files);

}  // namespace morvelta
