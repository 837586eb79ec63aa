// Line comparison engine on source-like files: a few scattered edits (the
// common check-in case), heavy rewrites, many repeated lines, and the
// three-way merge of two edited copies.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "diff/diffrun.h"

namespace {

std::string sink;
void collect(const char *text, size_t len) { sink.append(text, len); }
void quiet_error(const char *, const char *, const char *) {}
const diff_callbacks callbacks = {collect, nullptr, nullptr, quiet_error};

std::vector<std::string> source_lines(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<std::string> lines;
    for (size_t i = 0; i < n; ++i) {
        switch (rng() % 10) {
        case 0: lines.emplace_back("}"); break;
        case 1: lines.emplace_back(""); break;
        case 2: lines.emplace_back("    return result;"); break;
        default:
            lines.push_back("    value_" + std::to_string(rng() % 100000) + " = compute(" +
                            std::to_string(i) + ");");
        }
    }
    return lines;
}

std::vector<std::string> edited(std::vector<std::string> lines, size_t edits, unsigned seed) {
    std::mt19937 rng(seed);
    for (size_t e = 0; e < edits; ++e) {
        size_t at = rng() % lines.size();
        switch (rng() % 3) {
        case 0: lines.insert(lines.begin() + static_cast<long>(at), "    added(" + std::to_string(e) + ");"); break;
        case 1: lines.erase(lines.begin() + static_cast<long>(at)); break;
        default: lines[at] = "    changed(" + std::to_string(e) + ");";
        }
    }
    return lines;
}

std::string write_file(const std::string &name, const std::vector<std::string> &lines) {
    std::string path = std::filesystem::temp_directory_path() / ("jol-bench-" + std::to_string(getpid()) + "-" + name);
    std::ofstream out(path);
    for (const std::string &l : lines)
        out << l << '\n';
    return path;
}

int run(int (*engine)(int, char **, const char *, const diff_callbacks *),
        std::vector<std::string> args) {
    std::vector<char *> argv;
    for (std::string &s : args)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    sink.clear();
    return engine(static_cast<int>(args.size()), argv.data(), nullptr, &callbacks);
}

void BM_DiffScattered(benchmark::State &state) {
    size_t n = static_cast<size_t>(state.range(0)), edits = static_cast<size_t>(state.range(1));
    auto a = source_lines(n, 1);
    std::string fa = write_file("a", a), fb = write_file("b", edited(a, edits, 2));
    for (auto _ : state)
        benchmark::DoNotOptimize(run(diff_run, {"diff", "-n", "-a", fa, fb}));
    state.SetLabel(std::to_string(sink.size()) + " bytes of script");
    std::filesystem::remove(fa);
    std::filesystem::remove(fb);
}
BENCHMARK(BM_DiffScattered)->Args({10000, 10})->Args({10000, 1000})->Args({100000, 100})
    ->Args({100000, 10000})->Unit(benchmark::kMillisecond);

void BM_DiffUnrelated(benchmark::State &state) {
    size_t n = static_cast<size_t>(state.range(0));
    std::string fa = write_file("a", source_lines(n, 3)), fb = write_file("b", source_lines(n, 4));
    for (auto _ : state)
        benchmark::DoNotOptimize(run(diff_run, {"diff", "-n", fa, fb}));
    std::filesystem::remove(fa);
    std::filesystem::remove(fb);
}
BENCHMARK(BM_DiffUnrelated)->Arg(10000)->Arg(50000)->Unit(benchmark::kMillisecond);

void BM_DiffUnified(benchmark::State &state) {
    auto a = source_lines(50000, 5);
    std::string fa = write_file("a", a), fb = write_file("b", edited(a, 500, 6));
    for (auto _ : state)
        benchmark::DoNotOptimize(run(diff_run, {"diff", "-u", fa, fb}));
    std::filesystem::remove(fa);
    std::filesystem::remove(fb);
}
BENCHMARK(BM_DiffUnified)->Unit(benchmark::kMillisecond);

void BM_Merge(benchmark::State &state) {
    size_t n = static_cast<size_t>(state.range(0));
    auto base = source_lines(n, 7);
    std::string fo = write_file("o", base), fm = write_file("m", edited(base, n / 100, 8)),
                fy = write_file("y", edited(base, n / 100, 9));
    for (auto _ : state)
        benchmark::DoNotOptimize(run(diff3_run, {"diff3", "-E", "-am", fm, fo, fy}));
    std::filesystem::remove(fo);
    std::filesystem::remove(fm);
    std::filesystem::remove(fy);
}
BENCHMARK(BM_Merge)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
