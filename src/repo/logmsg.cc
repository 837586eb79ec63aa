// Obtaining, verifying and logging commit messages.
#include "src/repo/logmsg.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "src/base/error.h"
#include "src/base/filesubr.h"
#include "src/base/globals.h"
#include "src/base/line_reader.h"
#include "src/base/output.h"
#include "src/base/root.h"
#include "src/base/subprocess.h"
#include "src/repo/parseinfo.h"

namespace {

bool reuse_message = false;

void logfile_info_delproc(Node *p) { delete static_cast<logfile_info *>(p->data); }

std::string temp_file_name() {
    std::string tried;
    auto name = create_temp_file(&tried);
    if (!name)
        error(1, errno, "cannot create temporary file %s", tried);
    return *name;
}

struct FmtState {
    FILE *fp;
    const char *prefix;
    int col;
    std::optional<std::string> last_tag;
};

void fmt_names(FmtState &st, List *changes, Ctype type) {
    JOL_FOR_EACH_NODE(changes, p) {
        const logfile_info *li = static_cast<const logfile_info *>(p->data);
        if (li->type != type)
            continue;
        // The previous tag starts as none: trunk changes get no tag line.
        if (li->tag != st.last_tag) {
            if (st.col > 0)
                std::fputc('\n', st.fp);
            char pad[64];
            std::snprintf(pad, sizeof pad, "%-6s", st.prefix);
            std::fputs(pad, st.fp);
            std::fputs(li->tag ? ("Tag: " + *li->tag).c_str() : "No tag", st.fp);
            std::fputc('\n', st.fp);
            st.col = 0;
            st.last_tag = li->tag;
        }
        const std::string &name = *p->key;
        if (st.col == 0) {
            std::fprintf(st.fp, "%s\t", st.prefix);
            st.col = 8;
        } else if (st.col + static_cast<int>(name.size()) > 70) {
            std::fprintf(st.fp, "\n%s\t", st.prefix);
            st.col = 8;
        }
        std::fprintf(st.fp, "%s ", name.c_str());
        st.col += static_cast<int>(name.size()) + 1;
    }
}

int rcsinfo_proc(const char *, const char *value, void *closure) {
    auto *args = static_cast<std::pair<FILE *, std::string> *>(closure);
    if (args->second == value)
        return 0;
    args->second = value;
    FILE *tf = std::fopen(value, "r");
    if (!tf) {
        error(0, errno, "Couldn't open rcsinfo template file %s", value);
        return 1;
    }
    char buf[8192];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, tf)) > 0)
        std::fwrite(buf, 1, n, args->first);
    std::fclose(tf);
    return 0;
}

int remember_value(const char *, const char *value, void *closure) {
    auto *slot = static_cast<std::optional<std::string> *>(closure);
    if (!*slot)
        *slot = value;
    return 0;
}

std::string read_back(const std::string &file) {
    FILE *fp = std::fopen(file.c_str(), "r");
    if (!fp) {
        error(0, errno, "warning: cannot read %s", file);
        return std::string();
    }
    std::string out;
    LineReader lines(fp);
    while (auto line = lines.next()) {
        if (line->starts_with("JOL:"))
            continue;
        out += *line;
        if (lines.newline())
            out += '\n';
    }
    if (std::ferror(fp))
        error(0, errno, "warning: cannot read %s", file);
    if (std::fclose(fp) == EOF)
        error(0, errno, "warning: cannot close %s", file);
    return out;
}

struct FileStamp {
    struct timespec mtime;
    std::string contents;
};

FileStamp stamp_of(const std::string &file) {
    FileStamp s{};
    struct stat sb;
    if (stat(file.c_str(), &sb) == 0)
        s.mtime = sb.st_mtim;
    s.contents = read_back(file);
    return s;
}

}  // namespace

void add_change(List *changes, const std::string &name, Ctype type,
                const std::optional<std::string> &tag, const std::optional<std::string> &rev_old) {
    Node *p = getnode();
    p->type = UPDATE;
    p->key = name;
    p->data = new logfile_info{type, tag, rev_old, std::nullopt};
    p->delproc = logfile_info_delproc;
    if (addnode(changes, p) != 0)
        freenode(p);
}

void setup_tmpfile(FILE *fp, const char *prefix, List *changes) {
    const std::pair<Ctype, const char *> kinds[] = {
        {T_MODIFIED, "Modified Files:"}, {T_ADDED, "Added Files:"}, {T_REMOVED, "Removed Files:"}};
    FmtState st{fp, prefix, 0, std::nullopt};
    for (const auto &[type, heading] : kinds) {
        bool any = false;
        JOL_FOR_EACH_NODE(changes, p) {
            if (static_cast<const logfile_info *>(p->data)->type == type)
                any = true;
        }
        if (!any)
            continue;
        std::fprintf(fp, "%s%s\n", prefix, heading);
        st.col = 0;
        fmt_names(st, changes, type);
        std::fputc('\n', fp);
        st.col = 0;
    }
}

std::string make_message_rcslegal(const std::optional<std::string> &message) {
    if (!message)
        return "*** empty log message ***";
    std::string out;
    std::string line;
    for (char c : *message) {
        if (c == '\n') {
            while (!line.empty() && (line.back() == ' ' || line.back() == '\t'))
                line.pop_back();
            out += line;
            out += '\n';
            line.clear();
        } else {
            line += c;
        }
    }
    out += line;
    while (!out.empty() && std::isspace(static_cast<unsigned char>(out.back())))
        out.pop_back();
    if (out.empty())
        return "*** empty log message ***";
    return out;
}

// Format: doc/formats.md#template
void do_editor(const char *dir, std::optional<std::string> *messagep, const char *repository,
               List *changes) {
    if (noexec || reuse_message)
        return;
    std::optional<std::string> editinfo_editor;
    if (repository)
        Parse_Info("editinfo", repository, remember_value, 0, &editinfo_editor);
    if (Editor.empty() && !editinfo_editor)
        error(1, 0, "no editor defined, must use -e or -m");
    const char *prefix = "JOL: ";
    for (;;) {
        std::string file = temp_file_name();
        FILE *fp = std::fopen(file.c_str(), "w");
        if (!fp)
            error(1, errno, "cannot create temporary file %s", file);
        if (*messagep) {
            std::fputs((*messagep)->c_str(), fp);
            if ((*messagep)->empty() || (*messagep)->back() != '\n')
                std::fputc('\n', fp);
        } else {
            std::fputc('\n', fp);
        }
        if (!repository) {
            if (FILE *t = std::fopen("JOL/Template", "r")) {
                char buf[8192];
                size_t n;
                while ((n = std::fread(buf, 1, sizeof buf, t)) > 0)
                    std::fwrite(buf, 1, n, fp);
                if (std::ferror(t))
                    error(1, errno, "cannot read %s", "JOL/Template");
                std::fclose(t);
            }
        } else {
            std::pair<FILE *, std::string> args{fp, std::string()};
            Parse_Info("rcsinfo", repository, rcsinfo_proc, 1, &args);
        }
        std::fprintf(fp, "%s----------------------------------------------------------------------\n", prefix);
        std::fprintf(fp, "%sEnter Log.  Lines beginning with `%.*s' are removed automatically\n%s\n",
                     prefix, 4, prefix, prefix);
        if (dir && *dir)
            std::fprintf(fp, "%sCommitting in %s\n%s\n", prefix, dir, prefix);
        setup_tmpfile(fp, prefix, changes);
        std::fprintf(fp, "%s----------------------------------------------------------------------\n", prefix);
        if (std::fclose(fp) == EOF)
            error(1, errno, "cannot write %s", file);

        FileStamp before = stamp_of(file);
        std::vector<std::string> cmd = split_command(editinfo_editor ? *editinfo_editor : Editor);
        cmd.push_back(file);
        int r = run_vector(cmd, true);
        if (r != 0) {
            if (editinfo_editor)
                error(1, 0, "Logfile verification failed");
            error(0, 0, "warning: editor session failed");
        }
        FileStamp after = stamp_of(file);
        *messagep = after.contents;
        bool unchanged = before.mtime.tv_sec == after.mtime.tv_sec &&
                         before.mtime.tv_nsec == after.mtime.tv_nsec &&
                         before.contents == after.contents;
        bool empty = !*messagep || (*messagep)->empty() || **messagep == "\n";
        if (unlink(file.c_str()) != 0 && errno != ENOENT)
            error(0, errno, "warning: cannot remove temp file %s", file);
        if (!unchanged && !empty)
            return;
        for (;;) {
            std::fprintf(stdout, "\nLog message unchanged or not specified\n");
            std::fprintf(stdout, "a)bort, c)ontinue, e)dit, !)reuse this message unchanged for remaining dirs\n");
            std::fprintf(stdout, "Action: (continue) ");
            std::fflush(stdout);
            char line[256];
            if (!std::fgets(line, sizeof line, stdin)) {
                if (std::ferror(stdin)) {
                    error(0, errno, "cannot read from stdin");
                    error(1, 0, "aborting");
                }
                return;
            }
            char c = line[0];
            if (c == '\n' || c == 'c' || c == 'C')
                return;
            if (c == 'a' || c == 'A')
                error(1, 0, "aborted by user");
            if (c == 'e' || c == 'E')
                break;
            if (c == '!') {
                reuse_message = true;
                return;
            }
            std::printf("Unknown input\n");
        }
    }
}

// Format: doc/formats.md#info-files
void do_verify(const std::optional<std::string> &message, const char *repository) {
    if (client_active || noexec || !repository)
        return;
    std::optional<std::string> script;
    Parse_Info("verifymsg", repository, remember_value, 0, &script);
    if (!script)
        return;
    if (!message) {
        jol_output("No message to verify\n");
        return;
    }
    std::string file = temp_file_name();
    FILE *fp = std::fopen(file.c_str(), "w");
    if (!fp)
        error(1, errno, "cannot create temporary file %s", file);
    std::fputs(message->c_str(), fp);
    if (message->empty() || message->back() != '\n')
        std::fputc('\n', fp);
    std::fclose(fp);
    std::vector<std::string> cmd = split_command(*script);
    cmd.push_back(file);
    int r = run_vector(cmd);
    unlink(file.c_str());
    if (r != 0)
        error(1, 0, "Message verification failed");
}

namespace {

struct LogfileArgs {
    const std::string *message;
    FILE *logfp;
    List *changes;
};

// Format: doc/formats.md#info-files
int logfile_write(const char *repository, const char *filter, const std::string &message,
                  FILE *logfp, List *changes) {
    std::string f = filter;
    std::string command;
    size_t pct = f.find('%');
    if (pct == std::string::npos) {
        command = f;
    } else {
        std::string format;
        size_t after = pct + 1;
        if (after < f.size() && f[after] == '{') {
            size_t close = f.find('}', after);
            if (close == std::string::npos) {
                error(0, 0, "loginfo: '}' missing");
                format = f.substr(after + 1);
                after = f.size();
            } else {
                format = f.substr(after + 1, close - after - 1);
                after = close + 1;
            }
        } else if (after < f.size() && !std::isspace(static_cast<unsigned char>(f[after]))) {
            format = f.substr(after, 1);
            after += 1;
        } else {
            error(0, 0, "loginfo: '%%' not followed by formatting character");
        }
        std::string list;
        if (!format.empty()) {
            for (Ctype kind : {T_TITLE, T_ADDED, T_MODIFIED, T_REMOVED}) {
                JOL_FOR_EACH_NODE(changes, p) {
                    const logfile_info *li = static_cast<const logfile_info *>(p->data);
                    if (li->type != kind)
                        continue;
                    list += ' ';
                    if (kind == T_TITLE) {
                        list += *p->key;
                        continue;
                    }
                    for (size_t k = 0; k < format.size(); ++k) {
                        if (k)
                            list += ',';
                        char c = format[k];
                        if (c == 's')
                            list += *p->key;
                        else if (c == 'V')
                            list += li->rev_old.value_or("NONE");
                        else if (c == 'v')
                            list += li->rev_new.value_or("NONE");
                    }
                }
            }
        }
        // The directory and the file list form one shell word, so names
        // holding quotes or other shell syntax stay plain text.
        command = f.substr(0, pct) + shell_word(Short_Repository(repository) + list) + f.substr(after);
    }
    FILE *pipe = run_popen_write(command);
    if (!pipe) {
        if (!noexec)
            error(0, errno, "cannot write entry to log filter: %s", command);
        return 1;
    }
    std::fprintf(pipe, "Update of %s\n", repository);
    char *cwd = getcwd(nullptr, 0);
    if (cwd) {
        std::fprintf(pipe, "In directory %s:%s\n\n", hostname, cwd);
        std::free(cwd);
    } else {
        std::fprintf(pipe, "In directory %s:<cannot get working directory: %s>\n\n", hostname,
                     std::strerror(errno));
    }
    setup_tmpfile(pipe, "", changes);
    std::fprintf(pipe, "Log Message:\n%s\n", message.c_str());
    if (logfp) {
        std::fprintf(pipe, "Status:\n");
        std::rewind(logfp);
        char buf[8192];
        size_t n;
        // A filter that stopped reading (EPIPE) gets no more.
        while (!std::ferror(pipe) && (n = std::fread(buf, 1, sizeof buf, logfp)) > 0)
            std::fwrite(buf, 1, n, pipe);
    }
    int status = run_pclose(pipe);
    return status == -1 || status == 127 ? 1 : 0;
}

int update_logfile_proc(const char *repository, const char *filter, void *closure) {
    auto *a = static_cast<LogfileArgs *>(closure);
    return logfile_write(repository, filter, *a->message, a->logfp, a->changes);
}

}  // namespace

void Update_Logfile(const char *repository, const std::string &message, FILE *logfp,
                    List *changes) {
    if (list_isempty(changes))
        return;
    LogfileArgs a{&message, logfp, changes};
    Parse_Info("loginfo", repository, update_logfile_proc, 1, &a);
}
