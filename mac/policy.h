// Which encoding a Macintosh file travels in, decided by its Finder type,
// and the conversion settings read from the environment.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using OSType = uint32_t;

enum encodingPolicy : int {
    eEncodeDefault = -1,  // no rule for the type
    eEncodeHQX = 0,
    eEncodeAppleSingle = 1,
    eEncodePlainBinary = 2,  // the data fork only, unchanged
};

// The settings, each looked up once per process (through the GUI-aware
// environment getter).
struct MacSettings {
    std::vector<OSType> plain_types;   // MAC_BINARY_TYPES_PLAIN
    std::vector<OSType> hqx_types;     // MAC_BINARY_TYPES_HQX
    std::vector<OSType> single_types;  // MAC_BINARY_TYPES_SINGLE
    std::optional<std::string> default_encoding;  // MAC_DEFAULT_RESOURCE_ENCODING
    int iso8859 = 0;         // table pair 1 or 2; 0 for no character conversion
    bool maclf = false;      // JOL_MACLF: CR on the Mac side, LF in the repository
    bool ic_on_txt = false;  // IC_ON_TXT: received text files get a type too
};

const MacSettings &mac_settings();
// Forgets the settings so that the next use reads the environment again.
void mac_settings_reset();

// A list of four-character types, each followed by ";". Pieces of another
// length are warned about (naming `variable`'s whole value) and skipped;
// text after the last ";" is ignored.
std::vector<OSType> parse_type_list(std::string_view value);

void determineEncodingPolicy(OSType type, encodingPolicy &policy);
// The encoding of files with a resource fork and no rule for their type;
// an unknown setting is fatal.
void getDefaultEncodingPolicy(encodingPolicy &policy);
bool isPlainBinary(OSType type);
bool testHQXEncoding(OSType type);
bool testAppleSingleEncoding(OSType type);
