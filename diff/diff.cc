// The two-file comparison entry point: options, operands, the binary and
// brief shortcuts, the line analysis and the chosen output style.
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "diff/diff_internal.h"
#include "diff/options.h"
#include "diff/output_styles.h"

namespace jdiff {

namespace {

const char *file_type(const struct stat &st) {
    if (S_ISREG(st.st_mode))
        return st.st_size == 0 ? "regular empty file" : "regular file";
    if (S_ISDIR(st.st_mode))
        return "directory";
    if (S_ISBLK(st.st_mode))
        return "block special file";
    if (S_ISCHR(st.st_mode))
        return "character special file";
    if (S_ISFIFO(st.st_mode))
        return "fifo";
    if (S_ISSOCK(st.st_mode))
        return "socket";
    return "weird file";
}

// Messages about the files, written after the comparison.
class MessageQueue {
  public:
    void add(std::string text) { texts_.push_back(std::move(text)); }
    void print(Output &out) {
        for (const std::string &t : texts_)
            out.write(t);
        texts_.clear();
    }

  private:
    std::vector<std::string> texts_;
};

std::string fill(const char *fmt, const std::string &a, const std::string &b) {
    std::string out;
    int n = 0;
    for (const char *p = fmt; *p; ++p) {
        if (p[0] == '%' && p[1] == 's') {
            out += n++ == 0 ? a : b;
            ++p;
        } else {
            out += *p;
        }
    }
    return out;
}

bool looks_binary(const FileData &f) {
    size_t block = f.st.st_blksize > 0 ? static_cast<size_t>(f.st.st_blksize) : 4096;
    size_t n = std::min(block, f.buf.size());
    return std::memchr(f.buf.data(), '\0', n) != nullptr;
}

// Operand status; false after a reported problem.
bool stat_operand(Context &cx, int i) {
    FileData &f = cx.files[i];
    if (f.in_memory) {
        f.st = {};
        f.st.st_mode = S_IFREG | 0600;
        f.st.st_size = static_cast<off_t>(f.buf.size());
        f.st.st_blksize = 4096;
        f.st.st_mtime = time(nullptr);
        return true;
    }
    int rc = f.name == "-" ? fstat(0, &f.st) : stat(f.name.c_str(), &f.st);
    if (rc == 0)
        return true;
    int e = errno;
    bool may_be_absent = cx.opt.entire_new_file || (i == 0 && cx.opt.unidirectional_new_file);
    if (e == ENOENT && may_be_absent) {
        f.absent = true;
        f.st = {};
        return true;
    }
    cx.error("%s: %s", f.name.c_str(), std::strerror(e));
    return false;
}

int diff_2_files(Context &cx, MessageQueue &messages) {
    FileData &a = cx.files[0], &b = cx.files[1];
    const Options &o = cx.opt;
    read_file(cx, 0);
    if (a.name == b.name && a.name == "-")
        b = a;
    else
        read_file(cx, 1);

    const bool ignoring = o.ignore_space_change || o.ignore_all_space || o.ignore_case ||
                          o.ignore_blank_lines || !o.ignore_regexps.list.empty();
    const bool binary = !o.always_text && (looks_binary(a) || looks_binary(b));
    if (binary || (o.brief && !ignoring)) {
        bool differ = a.buf.size() != b.buf.size() || a.missing_newline != b.missing_newline ||
                      a.buf != b.buf;
        if (differ)
            messages.add(fill(o.brief ? "Files %s and %s differ\n" : "Binary files %s and %s differ\n",
                              a.name, b.name));
        return differ ? 1 : 0;
    }

    compute_changes(cx);
    build_script(cx);
    bool changes = !cx.script.empty();
    if (changes && (o.ignore_blank_lines || !o.ignore_regexps.list.empty())) {
        changes = false;
        for (size_t k = 0; k < cx.script.size() && !changes; ++k) {
            bool del, ins;
            changes = change_printed(cx, k, del, ins);
        }
    }
    if (o.brief) {
        if (changes)
            messages.add(fill("Files %s and %s differ\n", a.name, b.name));
        return changes ? 1 : 0;
    }
    bool print_always = false;
    if (o.style == OUTPUT_IFDEF)
        print_always = !(o.group_format[2].empty() ||
                         (o.group_format[2] == "%=" && o.line_format[2].empty()));
    if (o.style == OUTPUT_SDIFF)
        print_always = !o.suppress_common;
    if (changes || print_always)
        print_script(cx);
    // Ed scripts cannot express a missing final line feed, and their
    // comparison does not see it either: two files differing only there
    // are trouble, not identical.
    if (o.style == OUTPUT_ED || o.style == OUTPUT_FORWARD_ED) {
        for (const FileData *f : {&a, &b})
            if (f->missing_newline) {
                cx.error("No newline at end of file %s", f->name.c_str());
                return 2;
            }
    }
    return changes ? 1 : 0;
}

int compare_files(Context &cx, MessageQueue &messages) {
    for (int i = 0; i < 2; ++i)
        if (!stat_operand(cx, i))
            return 2;
    FileData &a = cx.files[0], &b = cx.files[1];
    if (a.absent && b.absent) {
        for (const FileData *f : {&a, &b})
            cx.error("%s: %s", f->name.c_str(), std::strerror(ENOENT));
        return 2;
    }
    bool dir0 = !a.absent && S_ISDIR(a.st.st_mode), dir1 = !b.absent && S_ISDIR(b.st.st_mode);
    if ((dir0 || dir1) && (a.name == "-" || b.name == "-")) {
        cx.error("can't compare - to a directory");
        return 2;
    }
    if (dir0 && dir1) {
        if (cx.opt.style == OUTPUT_IFDEF) {
            cx.error("-D option not supported with directories");
            return 2;
        }
        cx.error("%s: comparing directories is not supported", a.name.c_str());
        return 2;
    }
    if ((dir0 || dir1) && !a.absent && !b.absent) {
        messages.add("File " + a.name + " is a " + file_type(a.st) + " while file " + b.name +
                     " is a " + file_type(b.st) + "\n");
        return 1;
    }
    int result = diff_2_files(cx, messages);
    if (result == 0 && cx.opt.report_identical)
        messages.add(fill("Files %s and %s are identical\n", a.name, b.name));
    return result;
}

}  // namespace

}  // namespace jdiff

namespace {

int run_comparison(int argc, char **argv, std::string *contents[2], const char *out,
                   const diff_callbacks *callbacks) {
    using namespace jdiff;
    Context cx;
    cx.cb = callbacks;
    try {
        std::vector<std::string> operands;
        bool done = false;
        if (!parse_diff_options(cx, argc, argv, operands, done))
            return 2;
        if (done)
            return 0;
        for (int i = 0; i < 2; ++i) {
            cx.files[i].name = operands[i];
            if (contents && contents[i]) {
                cx.files[i].in_memory = true;
                cx.files[i].buf.swap(*contents[i]);
            }
        }
        OutputTarget target;
        if (!target.open(cx, out))
            return 2;
        int result;
        {
            Output output(target.file(), callbacks);
            cx.out = &output;
            MessageQueue messages;
            result = compare_files(cx, messages);
            messages.print(output);
            output.flush();
            cx.out = nullptr;
        }
        if (!target.finish(cx))
            return 2;
        return result;
    } catch (const Fatal &) {
        return 2;
    } catch (const std::bad_alloc &) {
        cx.error("memory exhausted");
        return 2;
    }
}

}  // namespace

int diff_run(int argc, char **argv, const char *out, const diff_callbacks *callbacks) {
    return run_comparison(argc, argv, nullptr, out, callbacks);
}

int diff_run_memory(int argc, char **argv, std::string *contents[2], const char *out,
                    const diff_callbacks *callbacks) {
    return run_comparison(argc, argv, contents, out, callbacks);
}
