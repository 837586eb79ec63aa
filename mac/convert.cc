// convert_file and its resource-aware part, and giving files a type from
// their names.
#include "mac/convert.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "mac/binhex_coding.h"
#include "mac/platform.h"
#include "mac/temp_output.h"
#include "src/base/error.h"
#include "src/base/globals.h"
#include "src/base/output.h"

namespace {

using mac_platform::fourcc;

constexpr size_t block = 8192;

void trace_conversion(const char *what, const char *from, const char *to) {
    if (trace)
        jol_outerr(std::string(server_active ? "S" : " ") + "-> " + what + "(" + from + ", " + to + ")\n");
}

// How a working file goes into repository form: eEncodeDefault for a
// plain copy (with `binary` set when its type asks for one), else
// eEncodeHQX or eEncodeAppleSingle.
encodingPolicy encoding_for(const char *infile, int &binary) {
    const mac_platform::FinderInfo info = mac_platform::get_finder_info(infile);
    const OSType type = info.type();
    if (type == fourcc("TEXT") || type == 0)
        return eEncodeDefault;
    encodingPolicy policy;
    determineEncodingPolicy(type, policy);
    if (policy == eEncodePlainBinary) {
        binary = 1;
        return eEncodeDefault;
    }
    if (policy == eEncodeDefault) {
        if (mac_platform::get_resource_fork(infile).empty()) {
            binary = 1;
            return eEncodeDefault;
        }
        getDefaultEncodingPolicy(policy);
    }
    return policy;
}

int encode_resource_file(const char *infile, const char *outfile, int &binary) {
    const encodingPolicy policy = encoding_for(infile, binary);
    if (policy == eEncodeDefault)
        return 0;
    if (policy == eEncodeHQX) {
        trace_conversion("HQXEncode", infile, outfile);
        if (HQXEncode(infile, outfile) != 0)
            error(1, 0, "Internal error: %s, %d", "convert_hqx_file", 1);
    } else {
        trace_conversion("encodeAppleSingle", infile, outfile);
        if (encodeAppleSingle(infile, outfile, applesingle::converter_entries) != 0)
            error(1, 0, "Internal error: %s, %d", "convert_hqx_file", 2);
    }
    return 1;
}

enum class Packed { none, binhex, applesingle };

// The packing a file in repository form starts with.
Packed packing_of(const char *infile) {
    FILE *fp = std::fopen(infile, "rb");
    if (!fp)
        error(1, 0, "Cannot open %s (%s %d)", infile, "convert_hqx_file", 3);
    char start[100];
    size_t got = std::fread(start, 1, sizeof start, fp);
    std::fclose(fp);
    const std::string_view head(start, got);
    const char as_magic[4] = {0x00, 0x05, 0x16, 0x00};
    if (head.starts_with(binhex::header_line))
        return Packed::binhex;
    if (head.starts_with(std::string_view(as_magic, 4)))
        return Packed::applesingle;
    return Packed::none;
}

int decode_resource_file(const char *infile, const char *outfile, int binary) {
    if (!binary)
        return 0;
    const Packed packed = packing_of(infile);
    if (packed == Packed::binhex) {
        trace_conversion("HQXDecode", infile, outfile);
        if (HQXDecode(infile, outfile) != 0)
            error(1, 0, "Internal error: %s, %d", "convert_hqx_file", 4);
        return 1;
    }
    if (packed == Packed::applesingle) {
        trace_conversion("decodeAppleSingle", infile, outfile);
        if (decodeAppleSingle(infile, outfile, applesingle::converter_entries) != 0)
            error(1, 0, "Internal error: %s, %d", "convert_hqx_file", 5);
        // A generic type from a foreign encoder: let the file name decide.
        const mac_platform::FinderInfo info = mac_platform::get_finder_info(outfile);
        if (info.type() == fourcc("????") && info.creator() == fourcc("MPS "))
            set_file_type(outfile, 1);
        return 1;
    }
    return 0;
}

void plain_copy(const char *infile, bool decoding, const char *outfile, int binary) {
    const MacSettings &settings = mac_settings();
    FILE *in = std::fopen(infile, "rb");
    if (!in)
        error(1, errno, "cannot read %s", infile);
    mac_io::TempOutput out(outfile);
    if (!out.ok())
        error(1, out.error_number(), "cannot write %s", outfile);
    const unsigned char *table = binary ? nullptr : convert_iso(decoding, settings.iso8859);
    const bool line_ends = !binary && settings.maclf;
    const char from = decoding ? '\n' : '\r', to = decoding ? '\r' : '\n';
    char buf[block];
    for (;;) {
        size_t n = std::fread(buf, 1, sizeof buf, in);
        if (n == 0 && std::ferror(in))
            error(1, errno, "error reading %s", infile);
        if (n == 0)
            break;
        for (size_t i = 0; i < n && (table || line_ends); ++i) {
            if (table)
                buf[i] = char(table[static_cast<unsigned char>(buf[i])]);
            if (line_ends && buf[i] == from)
                buf[i] = to;
        }
        if (std::fwrite(buf, 1, n, out.fp()) != n)
            error(1, errno, "cannot write %s", outfile);
    }
    if (std::fclose(in) != 0)
        error(0, errno, "warning: cannot close %s", infile);
    if (int err = out.commit())
        error(1, err, "cannot write %s", outfile);
}

}  // namespace

int convert_hqx_file(const char *infile, int inflags, const char *outfile, int, int &binary) {
    if (inflags & mac_repository_form)
        return decode_resource_file(infile, outfile, binary);
    return encode_resource_file(infile, outfile, binary);
}

void convert_file(const char *infile, int inflags, const char *outfile, int outflags, int binary) {
    const MacSettings &settings = mac_settings();
    const bool decoding = inflags & mac_repository_form;
    if (convert_hqx_file(infile, inflags, outfile, outflags, binary))
        return;
    trace_conversion("convert_file", infile, outfile);
    plain_copy(infile, decoding, outfile, binary);
    if (decoding && (binary || settings.ic_on_txt))
        set_file_type(outfile, !quiet);
}

bool conversion_is_plain_copy(const char *infile, int inflags, int binary) {
    const MacSettings &settings = mac_settings();
    const bool decoding = inflags & mac_repository_form;
    if (decoding) {
        // A received binary or typed text file gets a type from its name.
        if (binary || settings.ic_on_txt)
            return false;
    } else if (encoding_for(infile, binary) != eEncodeDefault) {
        return false;
    }
    return binary || (!convert_iso(decoding, settings.iso8859) && !settings.maclf);
}

void set_file_type(const char *file, int warn) {
    auto mapped = mac_platform::map_file_name(file);
    if (!mapped) {
        if (warn)
            error(0, 0, "WARNING: Internet Config cannot map file %s", file);
        return;
    }
    mac_platform::FinderInfo info = mac_platform::get_finder_info(file);
    if (mapped->type)
        info.set_type(mapped->type);
    if (mapped->creator)
        info.set_creator(mapped->creator);
    int err = mac_platform::set_finder_info(file, info);
    // Without attributes a file simply has no type.
    if (err && err != ENOTSUP)
        error(0, 0, "Internal error: %s, %d", "set_file_type", 1);
}

std::string conversion_temp_name(const char *file) {
    char name[32];
    std::snprintf(name, sizeof name, "%.9s%s", file, ".JOLBFCTMP");
    return name;
}
