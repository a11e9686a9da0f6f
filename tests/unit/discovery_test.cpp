#include "discovery.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include "failure.hpp"
#include "test_support.hpp"

namespace morvelta {
namespace {

using testing::TempDir;
namespace fs = std::filesystem;

// Lists `dir` from inside it, as the program does with its working directory.
FileList list_from(const fs::path& dir) {
    fs::path previous = fs::current_path();
    fs::current_path(dir);
    struct Restore {
        fs::path path;
        ~Restore() { fs::current_path(path); }
    } restore{previous};
    return collect_files(".");
}

// find(1) walks a tree depth first in the order readdir yields entries and does not
// follow links: an independent account of the listing order.
FileList find_files(const fs::path& dir) {
    testing::ProcessResult found = testing::run_process(
        {"find", ".", "-mindepth", "1", "!", "-type", "d"}, {.working_dir = dir});
    return testing::lines_of(found.out);
}

TEST(CollectFiles, ListsDepthFirstInTheOrderTheDirectoryYieldsEntries) {
    TempDir dir;
    for (const char* name : {"b.jpg", "a.mp3", "zz/one.png", "zz/deep/two.ogg", "zz/three.txt",
                             "m/x.JPG", ".hidden", "c.png", "pics/.also-hidden.png"}) {
        dir.write(name, "x");
    }
    fs::create_directory(dir.path() / "empty");
    FileList files = list_from(dir.path());
    EXPECT_EQ(files, find_files(dir.path()));
    EXPECT_EQ(files.size(), 9u);
    for (const std::string& path : files)
        EXPECT_TRUE(path.starts_with("./")) << path;
}

TEST(CollectFiles, ListsLinksAsFilesAndNeverFollowsThem) {
    TempDir dir;
    dir.write("target/inside.png", "x");
    fs::create_directory_symlink(dir.path() / "target", dir.path() / "y.jpg");
    fs::create_symlink(dir.path() / "nowhere.mp3", dir.path() / "dangling.mp3");
    dir.write("music.mp3/song.ogg", "x");  // a directory with a music name is descended into

    FileList files = list_from(dir.path());
    EXPECT_EQ(files, find_files(dir.path()));
    EXPECT_EQ(std::count(files.begin(), files.end(), "./y.jpg"), 1);
    EXPECT_EQ(std::count(files.begin(), files.end(), "./y.jpg/inside.png"), 0);
    EXPECT_EQ(std::count(files.begin(), files.end(), "./music.mp3"), 0);
    EXPECT_EQ(std::count(files.begin(), files.end(), "./music.mp3/song.ogg"), 1);

    PictureList pictures = choose_pictures(files);
    EXPECT_NE(std::find(pictures.begin(), pictures.end(), "./y.jpg"), pictures.end());
}

TEST(CollectFiles, EmptyDirectoryGivesAnEmptyList) {
    TempDir dir;
    EXPECT_TRUE(list_from(dir.path()).empty());
}

TEST(CollectFiles, NameThatIsNotUtf8StopsWithTheMessageOfItsKind) {
    TempDir file_case;
    file_case.write("good.jpg", "x");
    file_case.write("bad\xff\xfe.jpg", "x");
    ::testing::internal::CaptureStderr();
    EXPECT_THROW(list_from(file_case.path()), Panic);
    std::string report = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(report.find("called `Result::unwrap()` on an `Err` value: \"./bad\\xFF\\xFE.jpg\""),
              std::string::npos)
        << report;

    TempDir dir_case;
    dir_case.write("sub\xc3/a.png", "x");
    ::testing::internal::CaptureStderr();
    EXPECT_THROW(list_from(dir_case.path()), Panic);
    report = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(report.find("panicked at 'called `Option::unwrap()` on a `None` value'"),
              std::string::npos)
        << report;
}

TEST(CollectFiles, MissingDirectoryStopsWithTheOperatingSystemError) {
    ::testing::internal::CaptureStderr();
    EXPECT_THROW(collect_files("/nonexistent-morvelta-dir"), Panic);
    std::string report = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(report.find("called `Result::unwrap()` on an `Err` value: Os { code: 2, kind: "
                          "NotFound, message: \"No such file or directory\" }"),
              std::string::npos)
        << report;
}

TEST(FileTests, OnlyTheEndingDecidesInAnyLetterCase) {
    for (const char* music : {"./Song.Mp3", "./ÄÄNI.MP3", "./.mp3", "./a.OGG", "./x/y.ogg"}) {
        EXPECT_TRUE(is_music_file(music)) << music;
        EXPECT_FALSE(is_picture_file(music)) << music;
    }
    for (const char* picture : {"./PHOTO.JPG", "./KUVA.PnG", "./.jpg", "./kuva.png"}) {
        EXPECT_TRUE(is_picture_file(picture)) << picture;
        EXPECT_FALSE(is_music_file(picture)) << picture;
    }
    for (const char* neither : {"./a.jpeg", "./a.gif", "./a.wav", "./a.oga", "./song.mp3.bak",
                                "mp3", "", "./mp3", "./ÄJPG"}) {
        EXPECT_FALSE(is_music_file(neither)) << neither;
        EXPECT_FALSE(is_picture_file(neither)) << neither;
    }
}

TEST(Choice, FirstMusicFileInListingOrderAndEveryPictureInOrder) {
    FileList files{"./sub/first.ogg", "./b.png",     "./a.mp3",
                   "./sub/c.JPG",     "./notes.txt", "./d.png"};
    const std::string* music = choose_music(files);
    ASSERT_NE(music, nullptr);
    EXPECT_EQ(music, &files[0]);
    PictureList pictures = choose_pictures(files);
    EXPECT_EQ(pictures, (PictureList{"./b.png", "./sub/c.JPG", "./d.png"}));
    EXPECT_EQ(pictures[0].data(), files[1].data());  // refers to the list's own text

    FileList no_music{"./a.png", "./b.txt"};
    EXPECT_EQ(choose_music(no_music), nullptr);
    EXPECT_EQ(choose_pictures(no_music).size(), 1u);
}

}  // namespace
}  // namespace morvelta
