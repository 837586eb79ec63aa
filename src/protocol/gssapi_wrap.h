// Integrity protection of a connection after GSSAPI authentication: a
// packetizing buffer whose packets are GSSAPI wrap tokens.
// Format: doc/protocol.md#packets
#pragma once

#include <gssapi/gssapi.h>
#include <string>

#include "buffer.h"

// The connection's security context, from the GSSAPI method's exchange
// (client or server side: one connection per process); none before it.
extern gss_ctx_id_t gcontext;

// The closure of a wrap buffer: the security context both sides agreed on.
struct jol_gssapi_wrap_data {
    gss_ctx_id_t gcontext;
};

// Wraps `buf` (input or output side) with packets protected by `gcontext`,
// which must outlive the buffer.
buffer_ptr jol_gssapi_wrap_buffer_initialize(buffer_ptr buf, bool input, gss_ctx_id_t gcontext,
                                             buffer_memory_error memory_error);

// The translations of one packet: wrap for integrity only (fatal "gss_wrap
// failed"), and unwrap (fatal "gss_unwrap failed").
int jol_gssapi_wrap_output(jol_gssapi_wrap_data &data, const char *input, size_t size,
                           char *output, size_t &translated);
int jol_gssapi_wrap_input(jol_gssapi_wrap_data &data, const char *input, size_t size,
                          char *output);

// Whether the context protects the integrity of wrapped data.
bool gssapi_context_has_integrity(gss_ctx_id_t gcontext);
// The display texts of a GSSAPI status of `type` (GSS_C_GSS_CODE or
// GSS_C_MECH_CODE), joined with "; ".
std::string gssapi_status_text(OM_uint32 status, int type);
