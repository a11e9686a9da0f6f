#include "discovery.hpp"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>

#include "debug_form.hpp"
#include "failure.hpp"

namespace morvelta {
namespace {

#ifdef _WIN32
constexpr char separator = '\\';
#else
constexpr char separator = '/';
#endif

// One open directory search; closed when the listing of its level ends, also when a
// failure unwinds through it.
class DirectorySearch {
  public:
    explicit DirectorySearch(const std::string& dir) : handle_(::opendir(dir.c_str())) {
        if (handle_ == nullptr)
            unwrap_failed(os_error_debug(errno));
    }
    ~DirectorySearch() { ::closedir(handle_); }
    DirectorySearch(const DirectorySearch&) = delete;
    DirectorySearch& operator=(const DirectorySearch&) = delete;

    // The next entry, or nullptr once the directory is exhausted.
    const dirent* next() {
        errno = 0;
        const dirent* entry = ::readdir(handle_);
        if (entry == nullptr && errno != 0)
            unwrap_failed(os_error_debug(errno));
        return entry;
    }

  private:
    DIR* handle_;
};

std::string join(std::string_view dir, std::string_view name) {
    std::string path(dir);
    if (!path.empty() && path.back() != '/' && path.back() != separator)
        path += separator;
    path += name;
    return path;
}

// Decided from the entry's record; only a file system that does not fill in the kind
// is asked, and then about the entry itself, never what a link leads to.
bool is_directory_to_descend(const std::string& path, const dirent& entry) {
    if (entry.d_type != DT_UNKNOWN)
        return entry.d_type == DT_DIR;
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0)
        return false;
    return S_ISDIR(info.st_mode);
}

void list_into(std::string_view dir, FileList& out) {
    DirectorySearch search{std::string(dir)};
    while (const dirent* entry = search.next()) {
        std::string_view name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        std::string path = join(dir, name);
        if (is_directory_to_descend(path, *entry)) {
            if (!is_valid_utf8(path))
                none_unwrapped();
            list_into(path, out);
        } else {
            if (!is_valid_utf8(path))
                unwrap_failed(path_debug(path));
            out.push_back(std::move(path));
        }
    }
}

// Lower-casing the whole text and comparing its last four bytes gives the same answer
// as this: no character outside ASCII lower-cases to one of the suffix's letters.
bool ends_with_ignoring_ascii_case(std::string_view path, std::string_view suffix) {
    if (path.size() < suffix.size())
        return false;
    std::string_view tail = path.substr(path.size() - suffix.size());
    for (size_t i = 0; i < suffix.size(); ++i) {
        char c = tail[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != suffix[i])
            return false;
    }
    return true;
}

}  // namespace

FileList collect_files(std::string_view dir) {
    FileList files;
    list_into(dir, files);
    return files;
}

bool is_music_file(std::string_view path) {
    return ends_with_ignoring_ascii_case(path, ".mp3") ||
           ends_with_ignoring_ascii_case(path, ".ogg");
}

bool is_picture_file(std::string_view path) {
    return ends_with_ignoring_ascii_case(path, ".jpg") ||
           ends_with_ignoring_ascii_case(path, ".png");
}

const std::string* choose_music(const FileList& files) {
    for (const std::string& path : files) {
        if (is_music_file(path))
            return &path;
    }
    return nullptr;
}

PictureList choose_pictures(const FileList& files) {
    PictureList pictures;
    for (const std::string& path : files) {
        if (is_picture_file(path))
            pictures.push_back(path);
    }
    return pictures;
}

}  // namespace morvelta
