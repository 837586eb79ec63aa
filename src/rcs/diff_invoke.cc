// Running the in-process comparison and merge engines: argument vectors,
// the callbacks that route their output through the output layer, and
// the two composite operations on revisions (merge, revision diff).
#include "src/rcs/diff_invoke.h"

#include <cassert>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "diff/diffrun.h"
#include "src/base/error.h"
#include "src/base/file_ops.h"
#include "src/base/filesubr.h"
#include "src/base/globals.h"
#include "src/base/output.h"

namespace {

// The argument vector of the next engine call; element 0 is the program.
std::vector<std::string> call_diff_argv;

void call_diff_write_output(const char *text, size_t len) {
    if (len > 0)
        jol_output(text, len);
}
void call_diff_flush_output() { jol_flushout(); }
void call_diff_write_stdout(const char *text) { jol_output(text, std::strlen(text)); }
void call_diff_error(const char *format, const char *a1, const char *a2) {
    error(0, 0, format, a1 ? a1 : "", a2 ? a2 : "");
}

const diff_callbacks call_diff_stdout_callbacks = {call_diff_write_output, call_diff_flush_output,
                                                   call_diff_write_stdout, call_diff_error};
const diff_callbacks call_diff_file_callbacks = {nullptr, nullptr, call_diff_write_stdout,
                                                 call_diff_error};

// Appends the words of `text`, split at blanks and tabs.
void call_diff_add_words(const char *text) {
    std::string word;
    for (const char *p = text ? text : "";; ++p) {
        if (*p == ' ' || *p == '\t' || *p == '\0') {
            if (!word.empty())
                call_diff_argv.push_back(word);
            word.clear();
            if (!*p)
                break;
        } else {
            word += *p;
        }
    }
}

// Starts a new vector with the words of `prog` ("diff -c": "diff", "-c").
void call_diff_setup(const char *prog) {
    call_diff_argv.clear();
    call_diff_add_words(prog);
}

void call_diff_add_arg(const char *s) { call_diff_argv.emplace_back(s); }

template <class Engine>
int call_engine(Engine engine, const char *out) {
    std::vector<char *> argv;
    for (std::string &s : call_diff_argv)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    return engine(static_cast<int>(call_diff_argv.size()), argv.data(), out,
                  out ? &call_diff_file_callbacks : &call_diff_stdout_callbacks);
}

int call_diff(const char *out) { return call_engine(diff_run, out); }

// Runs the comparison on the current vector with operands taken from
// memory where `contents` has them.
int call_diff_memory(std::string *contents[2], const diff_callbacks *callbacks) {
    std::vector<char *> argv;
    for (std::string &s : call_diff_argv)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    return diff_run_memory(static_cast<int>(call_diff_argv.size()), argv.data(), contents, nullptr,
                           callbacks);
}
int call_diff3(const char *out) { return call_engine(diff3_run, out); }

// A name in the temporary directory for a revision compared from memory;
// nothing is created under it.
std::string memory_operand_name() {
    static const char chars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    static std::mt19937 gen(std::random_device{}());
    std::string name = Tmpdir + "/jol";
    for (int i = 0; i < 6; ++i)
        name += chars[gen() % (sizeof chars - 1)];
    return name;
}

// Removes temporary files even under -n.
void remove_temps(std::initializer_list<const std::string *> files) {
    int saved = noexec;
    noexec = 0;
    for (const std::string *f : files)
        if (!f->empty() && unlink(f->c_str()) != 0 && errno != ENOENT)
            error(0, errno, "cannot remove temp file %s", *f);
    noexec = saved;
}

}  // namespace

int diff_exec(const char *file1, const char *file2, const char *options, const char *out) {
    call_diff_setup("diff");
    call_diff_add_words(options);
    call_diff_add_arg(file1);
    call_diff_add_arg(file2);
    return call_diff(out);
}

int diff_execv(const char *file1, const char *file2, const char *label1, const char *label2,
               const char *options, const char *out) {
    call_diff_setup("diff");
    call_diff_add_words(options);
    if (label1 && *label1)
        call_diff_add_arg(label1);
    if (label2 && *label2)
        call_diff_add_arg(label2);
    call_diff_add_arg(file1);
    call_diff_add_arg(file2);
    return call_diff(out);
}

void append_text(void *dest, const char *text, size_t len) {
    static_cast<std::string *>(dest)->append(text, len);
}

namespace {

std::string *text_sink = nullptr;

void append_to_sink(const char *text, size_t len) { text_sink->append(text, len); }
void no_flush() {}

}  // namespace

int diff_texts(std::string text1, std::string text2, const char *options, std::string &out) {
    return diff_texts_labeled(std::move(text1), std::move(text2), nullptr, nullptr, options, out);
}

int diff_texts_labeled(std::string text1, std::string text2, const char *label1,
                       const char *label2, const char *options, std::string &out) {
    static const diff_callbacks to_string = {append_to_sink, no_flush, call_diff_write_stdout,
                                             call_diff_error};
    call_diff_setup("diff");
    call_diff_add_words(options);
    if (label1 && label2) {
        call_diff_add_arg((std::string("-L") + label1).c_str());
        call_diff_add_arg((std::string("-L") + label2).c_str());
    }
    std::string name1 = memory_operand_name(), name2 = memory_operand_name();
    call_diff_add_arg(name1.c_str());
    call_diff_add_arg(name2.c_str());
    std::string *contents[2] = {&text1, &text2};
    std::string *outer = text_sink;
    text_sink = &out;
    int status = call_diff_memory(contents, &to_string);
    text_sink = outer;
    return status;
}

std::string make_file_label(const char *path, const char *rev, RCSNode *rcs) {
    std::string label = std::string("-L") + path + "\t";
    if (rev) {
        std::string date;
        RCS_getrevtime(rcs, rev, &date, 0);
        label += printable_date(date) + "\t" + rev;
        return label;
    }
    const char *file = last_component(path);
    struct stat sb;
    if (stat(file, &sb) != 0) {
        error(0, errno, "could not get info for `%s'", path);
        return std::string();
    }
    time_t t = sb.st_mtime;
    struct tm tm;
    char buf[64];
    if (gmtime_r(&t, &tm)) {
        std::snprintf(buf, sizeof buf, "%04d/%02d/%02d %02d:%02d:%02d", tm.tm_year + 1900,
                      tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
        label += buf;
    }
    return label;
}

void RCS_output_diff_options(const char *opts, const char *rev1, const char *rev2,
                             const char *workfile) {
    std::string line = std::string("diff") + (opts ? opts : "") + " -r" + rev1;
    if (rev2) {
        line += " -r";
        line += rev2;
    } else {
        assert(workfile);
        line += " ";
        line += workfile;
    }
    line += "\n";
    jol_output(line);
}

int RCS_merge(RCSNode *rcs, const char *, const char *workfile, const char *options,
              const char *rev1, const char *rev2) {
    assert(!options || !*options || (options[0] == '-' && options[1] == 'k'));
    jol_output("RCS file: " + rcs->path + "\n");
    std::optional<std::string> r1 = RCS_gettag(rcs, rev1, 0, nullptr);
    std::optional<std::string> r2 = RCS_gettag(rcs, rev2, 0, nullptr);
    std::string tmp1, tmp2, tmp3;
    auto fetch = [&](const std::optional<std::string> &num, const char *tag, std::string &tmp) {
        if (!num) {
            jol_outerr(std::string("rcsmerge: co failed\n"));
            error_exit();
        }
        jol_output("retrieving revision " + *num + "\n");
        tmp = jol_temp_name();
        if (RCS_checkout(rcs, nullptr, num->c_str(), tag, options, tmp.c_str(), nullptr,
                         nullptr) != 0) {
            jol_outerr(std::string("rcsmerge: co failed\n"));
            remove_temps({&tmp1, &tmp2});
            error_exit();
        }
    };
    fetch(r1, rev1, tmp1);
    fetch(r2, rev2, tmp2);
    jol_output("Merging differences between " + *r1 + " and " + *r2 + " into " + workfile +
               "\n");
    tmp3 = jol_temp_name();
    call_diff_setup("diff3");
    for (const char *a : {"-E", "-am", "-L", workfile, "-L", r1->c_str(), "-L", r2->c_str(),
                          workfile, tmp1.c_str(), tmp2.c_str()})
        call_diff_add_arg(a);
    int status = call_diff3(tmp3.c_str());
    if (status == 1)
        jol_outerr(std::string("rcsmerge: warning: conflicts during merge\n"));
    else if (status == 2) {
        remove_temps({&tmp1, &tmp2, &tmp3});
        error_exit();
    }
    copy_file(tmp3.c_str(), workfile);
    remove_temps({&tmp1, &tmp2, &tmp3});
    return status;
}

int RCS_exec_rcsdiff(RCSNode *rcs, const char *opts, const char *options, const char *rev1,
                     const char *rev2, const char *label1, const char *label2,
                     const char *workfile) {
    jol_output("===================================================================\nRCS file: " +
               rcs->path + "\nretrieving revision " + rev1 + "\n");
    // Revisions are compared from memory; the names they get stand in for
    // them in the engine's messages.
    std::string text1, text2;
    auto fetch = [&](const char *rev, std::string &text) {
        int rc = RCS_checkout(rcs, nullptr, rev, nullptr, options, nullptr, append_text, &text);
        if (rc < 0) {
            error(0, errno, "cannot check out revision %s of %s", rev, rcs->path);
            return 1;
        }
        return rc;
    };
    if (int rc = fetch(rev1, text1))
        return rc;
    std::string name1 = memory_operand_name(), name2;
    std::string *contents[2] = {&text1, nullptr};
    if (rev2) {
        jol_output(std::string("retrieving revision ") + rev2 + "\n");
        if (int rc = fetch(rev2, text2))
            return rc;
        name2 = memory_operand_name();
        contents[1] = &text2;
    } else {
        assert(workfile);
        name2 = workfile;
    }
    RCS_output_diff_options(opts, rev1, rev2, workfile);
    call_diff_setup("diff");
    call_diff_add_words(opts);
    if (label1 && *label1)
        call_diff_add_arg(label1);
    if (label2 && *label2)
        call_diff_add_arg(label2);
    call_diff_add_arg(name1.c_str());
    call_diff_add_arg(name2.c_str());
    return call_diff_memory(contents, &call_diff_stdout_callbacks);
}
