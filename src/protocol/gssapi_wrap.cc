// The GSSAPI translation of whole packets: each packet's inner form is one
// wrap token, with integrity and without confidentiality.
#include "gssapi_wrap.h"

#include <cstring>
#include <memory>

#include "packetizing_channel.h"
#include "src/base/error.h"

gss_ctx_id_t gcontext = GSS_C_NO_CONTEXT;

namespace {

class gssapi_translation : public packet_translation {
  public:
    explicit gssapi_translation(gss_ctx_id_t gcontext) : data_{gcontext} {}
    int translate_output(const char *in, size_t size, char *out, size_t &translated) override {
        return jol_gssapi_wrap_output(data_, in, size, out, translated);
    }
    int translate_input(const char *in, size_t size, char *out) override {
        return jol_gssapi_wrap_input(data_, in, size, out);
    }

  private:
    jol_gssapi_wrap_data data_;
};

// Releases a buffer GSSAPI allocated.
struct gss_buffer_holder {
    gss_buffer_desc desc{0, nullptr};
    ~gss_buffer_holder() {
        OM_uint32 minor;
        gss_release_buffer(&minor, &desc);
    }
};

}  // namespace

buffer_ptr jol_gssapi_wrap_buffer_initialize(buffer_ptr buf, bool input, gss_ctx_id_t gcontext,
                                             buffer_memory_error memory_error) {
    return packetizing_buffer_initialize(
        std::move(buf), std::make_unique<gssapi_translation>(gcontext), input, memory_error);
}

int jol_gssapi_wrap_output(jol_gssapi_wrap_data &data, const char *input, size_t size,
                           char *output, size_t &translated) {
    gss_buffer_desc in{size, const_cast<char *>(input)};
    gss_buffer_holder out;
    OM_uint32 minor;
    int conf_state;
    if (gss_wrap(&minor, data.gcontext, 0, GSS_C_QOP_DEFAULT, &in, &conf_state, &out.desc) !=
        GSS_S_COMPLETE)
        fatal(0, "gss_wrap failed");
    // The packet layer has room for the input and its slack only.
    if (out.desc.length > size + packet_translation_slack)
        fatal(0, "jol_gssapi_wrap_output: wrapped token of %d bytes exceeds its room",
              out.desc.length);
    std::memcpy(output, out.desc.value, out.desc.length);
    translated = out.desc.length;
    return 0;
}

int jol_gssapi_wrap_input(jol_gssapi_wrap_data &data, const char *input, size_t size,
                          char *output) {
    gss_buffer_desc in{size, const_cast<char *>(input)};
    gss_buffer_holder out;
    OM_uint32 minor;
    int conf_state;
    gss_qop_t qop;
    if (gss_unwrap(&minor, data.gcontext, &in, &out.desc, &conf_state, &qop) != GSS_S_COMPLETE)
        fatal(0, "gss_unwrap failed");
    if (out.desc.length > size)
        fatal(0, "gss_unwrap failed");
    std::memcpy(output, out.desc.value, out.desc.length);
    return 0;
}

bool gssapi_context_has_integrity(gss_ctx_id_t gcontext) {
    OM_uint32 minor, flags = 0;
    if (gss_inquire_context(&minor, gcontext, nullptr, nullptr, nullptr, nullptr, &flags,
                            nullptr, nullptr) != GSS_S_COMPLETE)
        return false;
    return (flags & GSS_C_INTEG_FLAG) != 0;
}

std::string gssapi_status_text(OM_uint32 status, int type) {
    std::string text;
    OM_uint32 context = 0;
    do {
        OM_uint32 minor;
        gss_buffer_holder msg;
        if (gss_display_status(&minor, status, type, GSS_C_NO_OID, &context, &msg.desc) !=
            GSS_S_COMPLETE)
            break;
        if (!text.empty())
            text += "; ";
        text.append(static_cast<const char *>(msg.desc.value), msg.desc.length);
    } while (context != 0);
    return text;
}
