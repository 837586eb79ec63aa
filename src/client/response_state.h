// What the client's response handlers carry from one response to the next.
#pragma once

#include <array>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

struct SavedProg {
    std::string name;  // the program
    std::string dir;   // the directory whose JOL/ file gets it
};

struct ImportMergeCmd {
    bool seen = false;
    std::optional<int> conflicts;
    std::optional<std::string> mergetag1, mergetag2, repository;
};

struct ResponseState {
    // Announced for the next file written, and forgotten by it.
    std::optional<std::string> stored_mode;
    std::optional<time_t> stored_modtime;
    std::optional<std::array<unsigned char, 16>> stored_checksum;
    // A file name announced by tagged output, printed as "U name" before
    // the next file is written.
    std::optional<std::string> updated_fname;
    bool updated_seen = false;
    ImportMergeCmd importmergecmd;
    // Newest first.
    std::vector<SavedProg> checkin_progs, update_progs;
};

extern ResponseState client_response_state;
