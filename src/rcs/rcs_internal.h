// Pieces of the archive store shared between its own files.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "src/rcs/rcs.h"
#include "src/rcs/rcs_buffer.h"

// The loaded bytes of `rcs`, reopening its file when another archive held
// the one-entry cache meanwhile.
RcsBuffer &rcs_buffer(RCSNode *rcs);

// A key made only of digits and dots.
bool is_revnum_key(std::string_view key);

// Reads the next deltatext at the lexer's position; null at a clean end of
// the file.
std::unique_ptr<Deltatext> RCS_getdeltatext(RCSNode *rcs, RcsLexer &lx);

// Adds a keyed text node to a list; false when the key is already there.
bool list_add_text(List *list, std::string_view key, std::string_view text, ntype type);

// Test seam: sees (and may alter) each edit script outdating computes,
// before the script is checked against the text it must rebuild.
using OutdateScriptHook = void (*)(std::string &script);
extern OutdateScriptHook outdate_script_hook;
