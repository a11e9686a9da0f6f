// Pictures that cannot be loaded, seen from outside the whole program: the one report
// line, status 101, and no file after the failing one is opened.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "test_support.hpp"

namespace morvelta::testing {
namespace {

const std::string hint =
    "note: run with `MORVELTA_BACKTRACE=1` environment variable to display a backtrace";

std::string report_for(const std::string& quoted_error) {
    return "thread 'main' panicked at 'called `Result::unwrap()` on an `Err` value: " +
           quoted_error + "', src\\failure:41:5\n" + hint + "\n";
}

std::string read_bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void write_bytes(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

// A show folder with a 30-second song and nothing else yet.
struct ShowFolder {
    TempDir dir;
    ShowFolder() { make_song(dir.path() / "song.ogg", 30); }
    const fs::path& path() const { return dir.path(); }
};

ProcessResult run_show(const ShowFolder& folder, const XvfbServer& xvfb) {
    return run_morvelta({.working_dir = folder.path(),
                         .env = {{"DISPLAY", xvfb.display()},
                                 {"SDL_AUDIODRIVER", "dummy"},
                                 {"MORVELTA_BACKTRACE", std::nullopt}},
                         .timeout = std::chrono::milliseconds(30000)});
}

TEST(PictureErrors, EachFailureTextEndsTheShowWithOneReport) {
    XvfbServer xvfb(640, 480);
    TempDir sources;
    make_picture(sources.path() / "real.png", {"-size", "40x30", "gradient:red-blue"});
    make_picture(sources.path() / "real.jpg", {"-size", "40x30", "gradient:red-blue"});
    const std::string png = read_bytes(sources.path() / "real.png");
    const std::string jpg = read_bytes(sources.path() / "real.jpg");
    std::string zero_width = jpg;
    const std::size_t frame = zero_width.find("\xFF\xC0");
    ASSERT_NE(frame, std::string::npos);
    zero_width[frame + 7] = 0;
    zero_width[frame + 8] = 0;

    struct Row {
        std::string name;
        std::string contents;  // empty: a link to nowhere
        std::string quoted_error;
    };
    const std::vector<Row> rows = {
        {"gone.png", "", "\"No such file or directory (os error 2)\""},
        {".jpg", jpg,
         "\"The Decoder does not support the image format `Image format image/\\\"\\\" is not "
         "supported.`\""},
        {".PNG", png,
         "\"The Decoder does not support the image format `Image format image/\\\"\\\" is not "
         "supported.`\""},
        {"png_inside.jpg", png, "\"Format error: first two bytes is not a SOI marker\""},
        {"jpeg_inside.png", jpg, "\"Format error: invalid signature\""},
        {"cut.JPG", jpg.substr(0, jpg.size() / 2),
         "\"Not enough data was provided to the Decoder to decode the image\""},
        {"cut.png", png.substr(0, png.size() / 2),
         "\"Not enough data was provided to the Decoder to decode the image\""},
        {"zero.jpg", zero_width, "\"The Image\\'s dimensions are either too small or too large\""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ShowFolder folder;
        const fs::path picture = folder.path() / "pics" / row.name;
        if (row.contents.empty()) {
            fs::create_directories(picture.parent_path());
            fs::create_symlink("nowhere", picture);
        } else {
            write_bytes(picture, row.contents);
        }
        ProcessResult run = run_show(folder, xvfb);
        EXPECT_EQ(run.exit_status, 101);
        EXPECT_EQ(run.err, report_for(row.quoted_error));
        EXPECT_EQ(run.out, "");
    }
}

// Every picture is a FIFO, so the test sees each open as it happens and serves the
// first two opened with good pictures and the third with a broken one; the two left
// must never get a reader.
TEST(PictureErrors, AFailureAtTheThirdOfFivePicturesOpensNoLaterFile) {
    XvfbServer xvfb(640, 480);
    ShowFolder folder;
    TempDir sources;
    make_picture(sources.path() / "good.png", {"-size", "64x48", "gradient:red-blue"});
    const std::string good = read_bytes(sources.path() / "good.png");
    const std::vector<std::string> served = {good, good, "this is not a picture"};

    std::vector<fs::path> fifos;
    for (const char* name : {"a.png", "b.png", "c.png", "d.png", "e.png"}) {
        fifos.push_back(folder.path() / name);
        ASSERT_EQ(::mkfifo(fifos.back().c_str(), 0644), 0);
    }

    auto show = start_morvelta({.working_dir = folder.path(),
                                .env = {{"DISPLAY", xvfb.display()},
                                        {"SDL_AUDIODRIVER", "dummy"},
                                        {"MORVELTA_BACKTRACE", std::nullopt}}});
    std::vector<bool> opened(fifos.size(), false);
    std::size_t opens = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!show->finished() && std::chrono::steady_clock::now() < deadline) {
        for (std::size_t i = 0; i < fifos.size(); ++i) {
            if (opened[i])
                continue;
            // Opening a FIFO to write without blocking succeeds only while a reader has it.
            const int fd = ::open(fifos[i].c_str(), O_WRONLY | O_NONBLOCK);
            if (fd < 0)
                continue;
            opened[i] = true;
            ::fcntl(fd, F_SETFL, 0);
            const std::string& bytes = served[std::min(opens, served.size() - 1)];
            for (std::size_t done = 0; done < bytes.size();) {
                const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
                if (n <= 0)
                    break;
                done += static_cast<std::size_t>(n);
            }
            ::close(fd);
            ++opens;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ProcessResult run = show->wait(std::chrono::milliseconds(5000));
    EXPECT_FALSE(run.timed_out);
    EXPECT_EQ(run.exit_status, 101);
    EXPECT_EQ(run.err, report_for("\"Format error: invalid signature\""));
    EXPECT_EQ(opens, 3u);
}

}  // namespace
}  // namespace morvelta::testing
