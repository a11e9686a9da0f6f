// Lists a generated tree of 100,000 files in 1,000 folders with collect_files and
// with `find . -mindepth 1 ! -type d`, side by side, and prints the ratio.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "discovery.hpp"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int folders = 1000;
constexpr int files_per_folder = 100;
constexpr int rounds = 7;

void make_tree(const fs::path& root) {
    for (int f = 0; f < folders; ++f) {
        fs::path folder = root / ("folder" + std::to_string(f));
        fs::create_directories(folder);
        for (int i = 0; i < files_per_folder; ++i) {
            std::ofstream(folder / ("picture" + std::to_string(i) + (i % 2 ? ".jpg" : ".txt")));
        }
    }
}

double time_find() {
    auto start = Clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        freopen("/dev/null", "w", stdout);
        execlp("find", "find", ".", "-mindepth", "1", "!", "-type", "d",
               static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double time_collect(size_t& count) {
    auto start = Clock::now();
    morvelta::FileList files = morvelta::collect_files(".");
    count = files.size();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main() {
    fs::path root =
        fs::temp_directory_path() / ("morvelta-bench-discovery-" + std::to_string(getpid()));
    make_tree(root);
    fs::current_path(root);
    std::vector<double> ours, find;
    size_t count = 0;
    time_collect(count);  // warm the directory cache for both
    for (int round = 0; round < rounds; ++round) {
        ours.push_back(time_collect(count));
        find.push_back(time_find());
    }
    fs::current_path("/");
    fs::remove_all(root);
    double ours_ms = median(ours), find_ms = median(find);
    std::printf("entries listed: %zu\n", count);
    std::printf("collect_files: %.1f ms (median of %d)\n", ours_ms, rounds);
    std::printf("find:          %.1f ms (median of %d)\n", find_ms, rounds);
    std::printf("ratio collect_files / find: %.2f (goal <= 1.30)\n", ours_ms / find_ms);
    return 0;
}
