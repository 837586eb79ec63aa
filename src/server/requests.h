// The server's side of the request table: each request name bound to its
// handler, and the dispatch of one request line.
#pragma once

#include <string>

// Runs the request on one line (without its newline): the first row whose
// name the line starts with, followed by the end or a blank.
void dispatch_request(const std::string &line);

// The handlers, one per row of the request table. Each gets the text after
// the request name and one blank (empty when there is none).
void serve_root(const std::string &arg);
void serve_valid_responses(const std::string &arg);
void serve_valid_requests(const std::string &arg);
void serve_repository(const std::string &arg);
void serve_directory(const std::string &arg);
void serve_max_dotdot(const std::string &arg);
void serve_static_directory(const std::string &arg);
void serve_sticky(const std::string &arg);
void serve_checkin_prog(const std::string &arg);
void serve_update_prog(const std::string &arg);
void serve_entry(const std::string &arg);
void serve_kopt(const std::string &arg);
void serve_checkin_time(const std::string &arg);
void serve_modified(const std::string &arg);
void serve_is_modified(const std::string &arg);
void serve_enable_unchanged(const std::string &arg);
void serve_unchanged(const std::string &arg);
void serve_notify(const std::string &arg);
void serve_questionable(const std::string &arg);
void serve_case(const std::string &arg);
void serve_argument(const std::string &arg);
void serve_argumentx(const std::string &arg);
void serve_global_option(const std::string &arg);
void serve_gzip_stream(const std::string &arg);
void serve_wrapper_sendme_rcs_options(const std::string &arg);
void serve_set(const std::string &arg);
void serve_gssapi_authenticate(const std::string &arg);
void serve_expand_modules(const std::string &arg);
void serve_ignore(const std::string &arg);
void serve_gzip_contents(const std::string &arg);
void serve_noop(const std::string &arg);
// The command requests (command_requests.cc).
void serve_command(const std::string &request, const std::string &arg);

// Appends the queued entries to JOL/Entries of the current directory.
void server_write_entries();
// Carries out the queued notifications; the number that failed (a filter
// that failed, or a note left queued because it could not be carried out).
int server_notify();
