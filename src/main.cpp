// morvelta: plays the first song found below the working directory and shows every
// picture below it full screen, each for an equal share of the song.
#include "discovery.hpp"
#include "environment.hpp"
#include "failure.hpp"

namespace {

using namespace morvelta;

constexpr SourcePos no_music_pos{"src\\main", 74, 9};

void play_show() {
    const FileList files = collect_files(".");
    const std::string* const music_path = choose_music(files);
    const PictureList pictures = choose_pictures(files);
    set_environment_variable("LD_LIBRARY_PATH", ".");
    if (music_path == nullptr) panic("ei musaa hv kaikki", no_music_pos);
    // Everything made above is released in reverse order of declaration.
}

}  // namespace

int main() { return morvelta::run_guarded(play_show); }
