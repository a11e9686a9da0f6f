// Pictures that cannot be loaded, seen from outside the whole program: the one report
// line, status 101, and no file after the failing one is opened.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "jpeg_scripts.hpp"
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

// A socket file at `path`; the socket itself is closed, the file stays.
void make_socket_file(const fs::path& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path.string().size(), sizeof address.sun_path);
    std::strcpy(address.sun_path, path.c_str());
    EXPECT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
}

TEST(PictureErrors, EachFailureTextEndsTheShowWithOneReport) {
    XvfbServer xvfb(640, 480);
    TempDir sources;
    make_picture(sources.path() / "real.png", {"-size", "40x30", "gradient:red-blue"});
    make_picture(sources.path() / "real.jpg", {"-size", "40x30", "gradient:red-blue"});
    make_red_png(sources.path() / "wide.png", 16385, 1);
    const std::string png = read_bytes(sources.path() / "real.png");
    const std::string jpg = read_bytes(sources.path() / "real.jpg");
    std::string zero_width = jpg;
    const std::size_t frame = zero_width.find("\xFF\xC0");
    ASSERT_NE(frame, std::string::npos);
    zero_width[frame + 7] = 0;
    zero_width[frame + 8] = 0;
    // A DC scan and hundreds of refinement scans that add nothing over a 4096 x 4096
    // frame: many seconds of decoding from a file under 100 KB, unless the work is bounded.
    const std::string storm =
        repeat_last_scan(encode_jpeg({.width = 4096, .height = 4096, .components = 1}), 600);

    const std::string not_a_file = "\"No such device or address (os error 6)\"";
    using Maker = std::function<void(const fs::path&)>;
    auto bytes = [](std::string contents) -> Maker {
        return [contents](const fs::path& path) { write_bytes(path, contents); };
    };
    struct Row {
        std::string name;
        Maker make;
        std::string quoted_error;
    };
    const std::vector<Row> rows = {
        {"gone.png", [](const fs::path& path) { fs::create_symlink("nowhere", path); },
         "\"No such file or directory (os error 2)\""},
        {".jpg", bytes(jpg),
         "\"The Decoder does not support the image format `Image format image/\\\"\\\" is not "
         "supported.`\""},
        {".PNG", bytes(png),
         "\"The Decoder does not support the image format `Image format image/\\\"\\\" is not "
         "supported.`\""},
        {"png_inside.jpg", bytes(png), "\"Format error: first two bytes is not a SOI marker\""},
        {"jpeg_inside.png", bytes(jpg), "\"Format error: invalid signature\""},
        {"cut.JPG", bytes(jpg.substr(0, jpg.size() / 2)),
         "\"Not enough data was provided to the Decoder to decode the image\""},
        {"cut.png", bytes(png.substr(0, png.size() / 2)),
         "\"Not enough data was provided to the Decoder to decode the image\""},
        {"zero.jpg", bytes(zero_width), "\"Format error: zero width in frame header\""},
        // Wider than llvmpipe's largest texture, 16384, yet within 16 bits.
        {"wide.png", bytes(read_bytes(sources.path() / "wide.png")), "\"Texture(Size(16385))\""},
        {"storm.jpg", bytes(storm), "\"Format error: too many scans in a progressive picture\""},
        // Nothing that is not a regular file is read, nor waited on.
        {"fifo.jpg", [](const fs::path& path) { ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0); },
         not_a_file},
        {"socket.png", make_socket_file, not_a_file},
        {"device.jpg", [](const fs::path& path) { fs::create_symlink("/dev/zero", path); },
         not_a_file},
        // A link is listed as a file wherever it leads.
        {"folder.png", [](const fs::path& path) { fs::create_directory_symlink("..", path); },
         "\"Is a directory (os error 21)\""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ShowFolder folder;
        const fs::path picture = folder.path() / "pics" / row.name;
        fs::create_directories(picture.parent_path());
        row.make(picture);
        ProcessResult run = run_show(folder, xvfb);
        EXPECT_FALSE(run.timed_out);
        EXPECT_EQ(run.exit_status, 101);
        EXPECT_EQ(run.err, report_for(row.quoted_error));
        EXPECT_EQ(run.out, "");
    }
}

// The names of a folder's entries in the order the program lists them.
std::vector<std::string> listing_order(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    return names;
}

// The pictures are watched for opens: the third in listing order is broken, and the
// two after it must never be opened.
TEST(PictureErrors, AFailureAtTheThirdOfFivePicturesOpensNoLaterFile) {
    XvfbServer xvfb(640, 480);
    ShowFolder folder;
    const fs::path pics = folder.path() / "pics";
    for (const char* name : {"a.png", "b.png", "c.png", "d.png", "e.png"})
        make_picture(pics / name, {"-size", "64x48", "gradient:red-blue"});
    const std::vector<std::string> order = listing_order(pics);
    ASSERT_EQ(order.size(), 5u);
    write_bytes(pics / order[2], "this is not a picture");

    const int watcher = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watcher, 0);
    std::vector<int> watches;
    for (const std::string& name : order)
        watches.push_back(::inotify_add_watch(watcher, (pics / name).c_str(), IN_OPEN));

    ProcessResult run = run_show(folder, xvfb);
    std::vector<bool> opened(order.size(), false);
    alignas(inotify_event) char buffer[4096];
    for (ssize_t got; (got = ::read(watcher, buffer, sizeof buffer)) > 0;) {
        for (ssize_t at = 0; at < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            for (std::size_t i = 0; i < watches.size(); ++i)
                opened[i] = opened[i] || event->wd == watches[i];
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    ::close(watcher);
    EXPECT_EQ(run.exit_status, 101);
    EXPECT_EQ(run.err, report_for("\"Format error: invalid signature\""));
    EXPECT_EQ(opened, (std::vector<bool>{true, true, true, false, false}));
}

}  // namespace
}  // namespace morvelta::testing
