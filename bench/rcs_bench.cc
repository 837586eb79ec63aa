// Archive-store benchmark: checkout through many edit scripts, a large
// binary archive, and many small archives opened for their head only.
// Each case runs in its own child process so that its peak memory is its own.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "bench/archive_gen.h"
#include "src/rcs/rcs.h"

namespace fs = std::filesystem;

namespace {

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void measure(const char *name, int reps, const std::function<void()> &body) {
    int pfd[2];
    if (pipe(pfd) != 0)
        return;
    pid_t pid = fork();
    if (pid == 0) {
        close(pfd[0]);
        body();  // warm-up
        double best = 1e9;
        for (int i = 0; i < reps; ++i) {
            double t0 = now();
            body();
            best = std::min(best, now() - t0);
        }
        if (write(pfd[1], &best, sizeof best) != sizeof best)
            _exit(1);
        _exit(0);
    }
    close(pfd[1]);
    double best = -1;
    if (read(pfd[0], &best, sizeof best) != sizeof best)
        best = -1;
    close(pfd[0]);
    int status;
    struct rusage ru;
    wait4(pid, &status, 0, &ru);
    std::printf("%-48s %10.3f ms   peak RSS %8.1f MB\n", name, best * 1e3, ru.ru_maxrss / 1024.0);
}

// Counts what a checkout delivers; copying it would add its size to the
// peak memory measured for the checkout itself.
size_t delivered = 0;
void collect(void *, const char *, size_t n) { delivered += n; }

void checkout(const std::string &dir, const char *file, const char *rev) {
    RCSNode *rcs = RCS_parse(file, dir.c_str());
    RCS_checkout(rcs, nullptr, rev, nullptr, nullptr, nullptr, collect, nullptr);
    freercsnode(&rcs);
}

void read_once(const std::string &path) {
    int fd = open(path.c_str(), O_RDONLY);
    static std::string buf;
    buf.resize(fs::file_size(path));
    size_t got = 0;
    while (got < buf.size()) {
        ssize_t n = read(fd, buf.data() + got, buf.size() - got);
        if (n <= 0)
            break;
        got += n;
    }
    close(fd);
}

double baseline_rss_mb() {
    struct rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss / 1024.0;
}

}  // namespace

int main() {
    fs::path dir = fs::temp_directory_path() / ("jol-rcs-bench-" + std::to_string(getpid()));
    fs::create_directories(dir / "many");
    std::string d = dir.string();

    std::string text = bench::text_archive(10000, 2000, 1000, 50);
    bench::write_file(d + "/big.txt,v", text);
    std::printf("(peak RSS includes the benchmark process itself, about %.1f MB)\n",
                baseline_rss_mb());
    std::printf("text archive: %.1f MB, 10,000 lines, 2,000 trunk revisions, 50 on branch 1.1000.2\n",
                text.size() / 1e6);
    measure("read the archive file once", 20, [&] { read_once(d + "/big.txt,v"); });
    measure("parse the archive completely (tree + texts)", 20, [&] {
        RCSNode *rcs = RCS_parse("big.txt", d.c_str());
        RCS_fully_parse(rcs);
        freercsnode(&rcs);
    });
    measure("checkout head (1.2000)", 20, [&] { checkout(d, "big.txt", nullptr); });
    measure("checkout 1.1 (through 1,999 scripts)", 10, [&] { checkout(d, "big.txt", "1.1"); });
    measure("checkout branch tip 1.1000.2.50", 10, [&] { checkout(d, "big.txt", "1.1000.2.50"); });
    measure("annotate head", 3, [&] {
        RCSNode *rcs = RCS_parse("big.txt", d.c_str());
        int saved = dup(1);
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        RCS_deltas(rcs, "1.2000", RCS_ANNOTATE, nullptr, nullptr);
        fflush(stdout);
        dup2(saved, 1);
        close(null);
        close(saved);
        freercsnode(&rcs);
    });

    std::string bin = bench::binary_archive(50u << 20);
    bench::write_file(d + "/big.bin,v", bin);
    std::printf("binary archive: %.1f MB\n", bin.size() / 1e6);
    // The measuring children inherit the parent's memory: drop the copy.
    std::string().swap(bin);
    measure("read the binary archive once", 5, [&] { read_once(d + "/big.bin,v"); });
    measure("checkout binary head (-kb)", 5, [&] { checkout(d, "big.bin", nullptr); });

    std::string small = bench::text_archive(40, 5, 0, 0);
    for (int i = 0; i < 5000; ++i)
        bench::write_file(d + "/many/f" + std::to_string(i) + ",v", small);
    measure("open 5,000 small archives for their head", 5, [&] {
        std::string m = d + "/many";
        for (int i = 0; i < 5000; ++i) {
            std::string f = "f" + std::to_string(i);
            RCSNode *rcs = RCS_parse(f.c_str(), m.c_str());
            auto h = RCS_head(rcs);
            freercsnode(&rcs);
        }
    });
    measure("checkout head of 5,000 small archives", 5, [&] {
        std::string m = d + "/many";
        for (int i = 0; i < 5000; ++i) {
            std::string f = "f" + std::to_string(i);
            checkout(m, f.c_str(), nullptr);
        }
    });
    fs::remove_all(dir);
    return 0;
}
