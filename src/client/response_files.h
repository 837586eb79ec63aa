// The client's handlers of the responses that change working files and
// the administrative files of their directories.
#pragma once

#include <string_view>

void handle_checked_in(std::string_view pathname);
void handle_new_entry(std::string_view pathname);
void handle_copy_file(std::string_view pathname);
void handle_updated(std::string_view pathname);
void handle_created(std::string_view pathname);
void handle_update_existing(std::string_view pathname);
void handle_merged(std::string_view pathname);
void handle_patched(std::string_view pathname);
void handle_rcs_diff(std::string_view pathname);
void handle_removed(std::string_view pathname);
void handle_remove_entry(std::string_view pathname);
void handle_set_static_directory(std::string_view pathname);
void handle_clear_static_directory(std::string_view pathname);
void handle_set_sticky(std::string_view pathname);
void handle_clear_sticky(std::string_view pathname);
void handle_template(std::string_view pathname);
void handle_notified(std::string_view pathname);
