// convert_file end to end: which files get packed, unpacked or copied, the
// types given to received files, and fatal failures that leave nothing.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "mac_test_util.h"
#include "src/base/globals.h"

namespace {

using mac_platform::fourcc;

class Convert : public WithAndWithoutAttributes {
  protected:
    void SetUp() override {
        WithAndWithoutAttributes::SetUp();
        program_name = "jol";
        command_name.clear();
        quiet = 0;
    }
    // Working file to wire form; returns the output and the captured stderr.
    std::string send(const std::string &file, std::string *err = nullptr) {
        testing::internal::CaptureStderr();
        convert_file(file.c_str(), 0, (dir / "wire").c_str(), mac_repository_form, 0);
        std::string e = testing::internal::GetCapturedStderr();
        if (err)
            *err = e;
        return read_bytes(dir / "wire");
    }
    std::string receive(const std::string &wire, const std::string &file, int binary) {
        write_bytes(dir / "wire", wire);
        testing::internal::CaptureStderr();
        convert_file((dir / "wire").c_str(), mac_repository_form, file.c_str(), 0, binary);
        return testing::internal::GetCapturedStderr();
    }
    MacScratch dir;
};

// A BinHex stream of a file with the given forks.
std::string hqx_stream(const std::string &data, const std::string &rsrc, bool bad_rsrc_crc = false) {
    std::string h = std::string(2, '\0') + "APPLabcd" + be(0, 2) + be(uint32_t(data.size()), 4) +
                    be(uint32_t(rsrc.size()), 4);
    h += be(binhex::crc_of(h), 2);
    h += data + be(binhex::crc_of(data), 2) + rsrc + be(binhex::crc_of(rsrc) ^ bad_rsrc_crc, 2);
    return hqx_text(h);
}

}  // namespace

INSTANTIATE_TEST_SUITE_P(, Convert, testing::Bool(), attribute_mode_name);

TEST_P(Convert, FilesWithForksArePackedAndUnpacked) {
    const std::string data = varied_bytes(5000), rsrc = "resource\rbytes";
    const std::string src = dir / "app";
    if (!make_mac_file(src, data, "APPL", "abcd", 0x0400, rsrc)) {
        // No attributes: the file has no type, so it is sent as text.
        ASSERT_FALSE(dir.attributes());
        set("JOL_MACLF", "");
        EXPECT_EQ(send(src), [&] {
            std::string s = data;
            std::replace(s.begin(), s.end(), '\r', '\n');
            return s;
        }());
        return;
    }
    std::string hqx = send(src);
    EXPECT_TRUE(hqx.starts_with("(This file must be converted with BinHex 4.0)\n:"));
    EXPECT_EQ(receive(hqx, dir / "back", 1), "");
    EXPECT_EQ(read_bytes(dir / "back"), data);
    EXPECT_EQ(mac_platform::get_resource_fork((dir / "back").c_str()), rsrc);
    EXPECT_EQ(mac_platform::get_finder_info((dir / "back").c_str()).creator(), fourcc("abcd"));

    set("MAC_DEFAULT_RESOURCE_ENCODING", "AppleSingle");
    std::string as = send(src);
    EXPECT_EQ(as.substr(0, 4), std::string("\0\x05\x16\0", 4));
    EXPECT_EQ(receive(as, dir / "back2", 1), "");
    EXPECT_EQ(read_bytes(dir / "back2"), data);
    EXPECT_EQ(mac_platform::get_resource_fork((dir / "back2").c_str()), rsrc);

    // Received without the binary flag, a packed stream is just text.
    receive(hqx, dir / "text", 0);
    EXPECT_EQ(read_bytes(dir / "text"), hqx);

    // The type lists override the fork: plain binary drops it, a listed
    // AppleSingle type is packed even without one.
    set("MAC_BINARY_TYPES_PLAIN", "APPL;");
    set("JOL_MACLF", "");
    EXPECT_EQ(send(src), data) << "plain binary: no line-end conversion";
    ASSERT_TRUE(make_mac_file(src, data, "PICT", "abcd", 0, ""));
    set("MAC_BINARY_TYPES_SINGLE", "PICT;");
    EXPECT_EQ(send(src).substr(0, 4), std::string("\0\x05\x16\0", 4));
}

TEST_P(Convert, TypedFilesWithoutForkOrRuleAreSentAsBinary) {
    set("JOL_MACLF", "");
    set("ISO8859", "1");
    const std::string data = "\xFF\xD8\r\n\x8E jpeg";
    if (!make_mac_file(dir / "photo", data, "JPEG", "prvw", 0, "")) {
        // No attributes, no type: every file takes the text path.
        ASSERT_FALSE(dir.attributes());
        std::string text = data;
        for (char &ch : text)
            ch = char(mac_to_iso[uint8_t(ch)]);
        std::replace(text.begin(), text.end(), '\r', '\n');
        EXPECT_EQ(send(dir / "photo"), text);
        return;
    }
    EXPECT_EQ(send(dir / "photo"), data);
    // A text file is converted even when it has a resource fork.
    ASSERT_TRUE(make_mac_file(dir / "notes", "a\rb\x8E", "TEXT", "ttxt", 0, "rsrc"));
    EXPECT_EQ(send(dir / "notes"), "a\nb\xE9");
}

TEST_P(Convert, ReceivedFilesGetTypesFromTheirNames) {
    // Binary input that is neither BinHex nor AppleSingle is copied as it is.
    EXPECT_EQ(receive("GIF89a\r\n", dir / "pic.gif", 1), "");
    EXPECT_EQ(read_bytes(dir / "pic.gif"), "GIF89a\r\n");
    EXPECT_EQ(receive("bytes", dir / "thing.xyz", 1),
              "jol: WARNING: Internet Config cannot map file " + (dir / "thing.xyz") + "\n");
    quiet = 1;
    EXPECT_EQ(receive("bytes", dir / "thing.xyz", 1), "");
    // Text gets a type only with IC_ON_TXT.
    EXPECT_EQ(receive("text\n", dir / "a.txt", 0), "");
    EXPECT_EQ(mac_platform::get_finder_info((dir / "a.txt").c_str()).type(), 0u);
    set("IC_ON_TXT", "");
    receive("text\n", dir / "b.txt", 0);
    if (dir.attributes()) {
        EXPECT_EQ(mac_platform::get_finder_info((dir / "pic.gif").c_str()).type(), fourcc("GIFf"));
        EXPECT_EQ(mac_platform::get_finder_info((dir / "b.txt").c_str()).type(), fourcc("TEXT"));
        EXPECT_EQ(mac_platform::get_finder_info((dir / "b.txt").c_str()).creator(), fourcc("ttxt"));
    } else {
        EXPECT_EQ(mac_platform::get_finder_info((dir / "pic.gif").c_str()).type(), 0u);
    }
}

TEST_P(Convert, GenericAppleSingleTypeIsReplacedByTheNameMapping) {
    mac_platform::FinderInfo info;
    info.set_type(fourcc("????"));
    info.set_creator(fourcc("MPS "));
    std::string as = std::string("\0\x05\x16\0\0\x02\0\0", 8) + std::string(16, '\0') + be(2, 2) +
                     be(9, 4) + be(50, 4) + be(32, 4) + be(1, 4) + be(82, 4) + be(3, 4) +
                     std::string(info.bytes.begin(), info.bytes.end()) + "PDF";
    EXPECT_EQ(receive(as, dir / "doc.pdf", 1), "");
    EXPECT_EQ(read_bytes(dir / "doc.pdf"), "PDF");
    if (dir.attributes()) {
        EXPECT_EQ(mac_platform::get_finder_info((dir / "doc.pdf").c_str()).type(), fourcc("PDF "));
        EXPECT_EQ(mac_platform::get_finder_info((dir / "doc.pdf").c_str()).creator(), fourcc("prvw"));
    }
}

TEST_P(Convert, ResourceForkTheFileSystemCannotKeepIsWarnedAbout) {
    // Far beyond what a file system keeps in an attribute.
    const std::string rsrc = varied_bytes(200000);
    std::string err = receive(hqx_stream("data", rsrc), dir / "big", 1);
    EXPECT_EQ(read_bytes(dir / "big"), "data");
    EXPECT_NE(err.find("warning: cannot keep the resource fork of " + (dir / "big")), std::string::npos) << err;
    EXPECT_EQ(mac_platform::get_resource_fork((dir / "big").c_str()), "");
}

TEST_P(Convert, FailedDecodesAreFatalAndLeaveTheWorkingFileAlone) {
    write_bytes(dir / "work", "my edits");
    write_bytes(dir / "bad.hqx", hqx_stream("data", "rsrc", true));
    EXPECT_EXIT(convert_file((dir / "bad.hqx").c_str(), mac_repository_form, (dir / "work").c_str(), 0, 1),
                testing::ExitedWithCode(1), "^jol: Internal error: convert_hqx_file, [0-9]+\n$");
    EXPECT_EXIT(convert_file((dir / "bad.hqx").c_str(), mac_repository_form, (dir / "new").c_str(), 0, 1),
                testing::ExitedWithCode(1), "Internal error");

    std::string as = std::string("\0\x05\x16\0\0\x02\0\0", 8) + std::string(16, '\0') + be(1, 2) +
                     be(1, 4) + be(38, 4) + be(0x10000000, 4) + "short";
    write_bytes(dir / "bad.as", as);
    EXPECT_EXIT(convert_file((dir / "bad.as").c_str(), mac_repository_form, (dir / "work").c_str(), 0, 1),
                testing::ExitedWithCode(1),
                "^AppleSingle decoding has failed: .*/bad.as\njol: Internal error: convert_hqx_file, [0-9]+\n$");
    EXPECT_EQ(read_bytes(dir / "work"), "my edits");
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"bad.as", "bad.hqx", "work"}));
}

TEST_P(Convert, CopyFailuresAreFatalAndRemoveTheTemporaryFile) {
    EXPECT_EXIT(convert_file((dir / "missing").c_str(), 0, (dir / "out").c_str(), mac_repository_form, 0),
                testing::ExitedWithCode(1), "cannot read .*/missing: No such file or directory");
    // Reading a directory fails after the output was started.
    fs::create_directory(dir.path() / "subdir");
    EXPECT_EXIT(convert_file((dir / "subdir").c_str(), 0, (dir / "out").c_str(), mac_repository_form, 0),
                testing::ExitedWithCode(1), "error reading .*/subdir");
    EXPECT_EXIT(convert_file((dir / "subdir").c_str(), 0, (dir / "nodir/out").c_str(), mac_repository_form, 0),
                testing::ExitedWithCode(1), "cannot write .*/nodir/out");
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"subdir"});
}

TEST_P(Convert, OutputModeAndTemporaryName) {
    write_bytes(dir / "in", "x");
    convert_file((dir / "in").c_str(), 0, (dir / "fresh").c_str(), mac_repository_form, 0);
    write_bytes(dir / "old", "old");
    chmod((dir / "old").c_str(), 0444);
    convert_file((dir / "in").c_str(), 0, (dir / "old").c_str(), mac_repository_form, 0);
    struct stat sb;
    ASSERT_EQ(stat((dir / "old").c_str(), &sb), 0);
    EXPECT_EQ(sb.st_mode & 07777, 0700u) << "an existing output is left writable for the caller";
    EXPECT_EQ(read_bytes(dir / "old"), "x");
    ASSERT_EQ(stat((dir / "fresh").c_str(), &sb), 0);
    mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(sb.st_mode & 07777, 0666u & ~mask);
    EXPECT_EQ(conversion_temp_name("averylongname.c"), "averylong.JOLBFCTMP");
    EXPECT_EQ(conversion_temp_name("a.c"), "a.c.JOLBFCTMP");
}

// conversion_is_plain_copy must agree with what convert_file does: when it
// says "plain", the conversion's output equals its input, byte for byte.
TEST_P(Convert, PlainCopyPredictionMatchesTheConversion) {
    const std::string text = "one\rtwo\n\x8E";
    write_bytes(dir / "plain", text);
    auto predicted_plain_send = [&](const std::string &f, int binary) {
        return conversion_is_plain_copy(f.c_str(), 0, binary);
    };
    EXPECT_TRUE(predicted_plain_send(dir / "plain", 0));
    EXPECT_EQ(send(dir / "plain"), text);

    set("JOL_MACLF", "");
    EXPECT_FALSE(predicted_plain_send(dir / "plain", 0)) << "line ends are mapped";
    EXPECT_NE(send(dir / "plain"), text);
    EXPECT_TRUE(predicted_plain_send(dir / "plain", 1)) << "binary files keep their bytes";
    unsetenv("JOL_MACLF");
    mac_settings_reset();
    set("ISO8859", "1");
    EXPECT_FALSE(predicted_plain_send(dir / "plain", 0)) << "characters are mapped";
    unsetenv("ISO8859");
    mac_settings_reset();

    // Received: plain text moves as it is; a binary file gets a type.
    EXPECT_TRUE(conversion_is_plain_copy((dir / "plain").c_str(), mac_repository_form, 0));
    EXPECT_FALSE(conversion_is_plain_copy((dir / "plain").c_str(), mac_repository_form, 1));

    if (make_mac_file(dir / "app", "data", "APPL", "abcd", 0, "rsrc")) {
        EXPECT_FALSE(predicted_plain_send(dir / "app", 0)) << "a fork is packed";
        EXPECT_TRUE(make_mac_file(dir / "photo", "\xFF\xD8", "JPEG", "prvw", 0, ""));
        EXPECT_TRUE(predicted_plain_send(dir / "photo", 0)) << "typed, no fork: bytes as they are";
        EXPECT_EQ(send(dir / "photo"), "\xFF\xD8");
    } else {
        ASSERT_FALSE(dir.attributes());
    }
}
