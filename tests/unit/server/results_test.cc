// The command child's file responses, read back from the counted records
// they are sent as.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>

#include "src/base/globals.h"
#include "src/protocol/protocol_tables.h"
#include "src/server/server_results.h"
#include "src/server/server_state.h"
#include "src/wc/entries.h"
#include "src/wc/recurse.h"
#include "src/wc/vers_ts.h"

namespace fs = std::filesystem;

namespace {

const char all_responses[] =
    "ok error Valid-requests Checked-in New-entry Checksum Copy-file Updated Created "
    "Update-existing Merged Patched Rcs-diff Mode Mod-time Removed Remove-entry "
    "Set-static-directory Clear-static-directory Set-sticky Clear-sticky Template "
    "Set-checkin-prog Set-update-prog Notified Module-expansion Wrapper-rcsOption M Mbinary E F MT";

// A client that takes exactly `names` (the table is process-wide).
void client_takes(const char *names) {
    for (int i = 0; i < response_count(); ++i)
        set_response_state(i, response_names[i].initial);
    mark_valid_responses(names);
}

class sink : public channel {
  public:
    explicit sink(std::shared_ptr<std::string> out) : out_(std::move(out)) {}
    int output(const char *data, size_t have, size_t &wrote) override {
        out_->append(data, have);
        wrote = have;
        return 0;
    }
    int flush() override { return 0; }
    int block(bool) override { return 0; }

  private:
    std::shared_ptr<std::string> out_;
};

class ResultsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        static int n = 0;
        dir_ = fs::temp_directory_path() /
               ("jol-results-" + std::to_string(getpid()) + "-" + std::to_string(++n));
        fs::create_directories(dir_ / "JOL");
        old_ = fs::current_path();
        fs::current_path(dir_);
        std::ofstream("JOL/Entries");
        out_ = std::make_shared<std::string>();
        protocol = buf_initialize(std::make_unique<sink>(out_), nullptr);
        client_takes(all_responses);
        noexec = 0;
        file_gzip_level = 0;
        server_dir.reset();
        server_joining = false;
        entries_ = Entries_Open(0, nullptr);
        finfo_.file = "f.c";
        finfo_.update_dir = "sub";
        finfo_.fullname = "sub/f.c";
        finfo_.repository = "/r/m";
        finfo_.entries = entries_;
    }
    void TearDown() override {
        dellist(&entries_);
        protocol.reset();
        file_gzip_level = 0;
        server_dir.reset();
        server_joining = false;
        fs::current_path(old_);
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    // The records sent so far, each as its bytes.
    std::vector<std::string> records() {
        std::vector<std::string> r;
        size_t at = 0;
        while (at + 4 <= out_->size()) {
            int32_t count;
            std::memcpy(&count, out_->data() + at, 4);
            at += 4;
            r.push_back(out_->substr(at, static_cast<size_t>(count)));
            at += static_cast<size_t>(count);
        }
        EXPECT_EQ(at, out_->size());
        return r;
    }

    static void write_file(const char *name, const std::string &text, mode_t mode = 0644) {
        std::ofstream(name, std::ios::binary) << text;
        chmod(name, mode);
    }

    ProtocolResults results_;
    file_info finfo_;
    List *entries_ = nullptr;
    std::shared_ptr<std::string> out_;
    fs::path dir_, old_;
};

TEST_F(ResultsTest, EntriesLineMarksConflictAndCarriesTagOrDate) {
    write_file("f.c", "x\n");
    results_.register_entry("f.c", "1.2", "Sun Jan  1 00:00:00 2023", "-kb", "br", std::nullopt,
                            std::nullopt);
    results_.checked_in("f.c", "sub", "/r/m");
    results_.register_entry("f.c", "1.3", "whatever", "", std::nullopt, "2023.01.01.00.00.00",
                            "conflict text");
    results_.update_entries("f.c", "", "/r/m", SERVER_MERGED);
    auto r = records();
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0], "Mode u=rw,g=r,o=r\nChecked-in sub/\n/r/m/f.c\n/f.c/1.2//-kb/Tbr\n");
    EXPECT_EQ(r[1], "New-entry ./\n/r/m/f.c\n/f.c/1.3/+=//D2023.01.01.00.00.00\n");
}

TEST_F(ResultsTest, WrongPairingsAreReportedInTheStream) {
    // No Mode for a file the server has no copy of; no entry registered.
    results_.checked_in("f.c", "sub", "/r/m");
    results_.scratch("f.c");
    results_.scratch("g.c");
    results_.checked_in("f.c", "sub", "/r/m");
    auto r = records();
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0], "Checked-in sub/\n/r/m/f.c\nJOL server internal error: Register missing\n");
    EXPECT_EQ(r[1], "E JOL server internal error: duplicate Scratch_Entry\n");
    EXPECT_EQ(r[2], "Remove-entry sub/\n/r/m/f.c\n");
}

TEST_F(ResultsTest, ScratchReportsRemovedOrRemoveEntry) {
    results_.scratch("f.c");
    results_.updated(&finfo_, nullptr, SERVER_UPDATED, SERVER_FILE_MODE, nullptr, nullptr);
    results_.scratch("f.c");
    results_.scratch_entry_only();
    results_.updated(&finfo_, nullptr, SERVER_UPDATED, SERVER_FILE_MODE, nullptr, nullptr);
    // Neither registered nor scratched: an empty record.
    results_.updated(&finfo_, nullptr, SERVER_UPDATED, SERVER_FILE_MODE, nullptr, nullptr);
    auto r = records();
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0], "Removed sub/\n/r/m/f.c\n");
    EXPECT_EQ(r[1], "Remove-entry sub/\n/r/m/f.c\n");
    EXPECT_EQ(r[2], "");
}

TEST_F(ResultsTest, ScratchOfAnotherFileIsFatal) {
    results_.scratch("other.c");
    EXPECT_EXIT(results_.updated(&finfo_, nullptr, SERVER_UPDATED, SERVER_FILE_MODE, nullptr,
                                 nullptr),
                ::testing::ExitedWithCode(1), "`other.c' vs. `f.c' scratched");
}

TEST_F(ResultsTest, ContentsFromMemoryWithChecksumAndModulePrefix) {
    // Without Update-existing the plain "Updated" is used.
    client_takes("ok error Valid-requests Checked-in New-entry Checksum Updated Created "
                         "Remove-entry Removed M E");
    server_dir = "top";
    buffer_ptr contents = buf_nonio_initialize(nullptr);
    buf_output(*contents, "hello\n");
    unsigned char sum[16];
    for (int i = 0; i < 16; ++i)
        sum[i] = static_cast<unsigned char>(i * 17);
    results_.register_entry("f.c", "1.1", "", "", std::nullopt, std::nullopt, std::nullopt);
    results_.updated(&finfo_, nullptr, SERVER_UPDATED, 0444, sum, contents.get());
    auto r = records();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0], "Checksum 00112233445566778899aabbccddeeff\n"
                    "Updated top/sub/\n/r/m/f.c\n/f.c/1.1///\nu=r,g=r,o=r\n6\nhello\n");
    EXPECT_TRUE(buf_empty_p(*contents));
}

TEST_F(ResultsTest, CreatedOrUpdateExistingByTheClientsCopy) {
    Register(entries_, "f.c", "1.1", "Sun Jan  1 00:00:00 2023", "", std::nullopt, std::nullopt,
             std::nullopt);
    Vers_TS vers;
    for (bool client_has_copy : {false, true}) {
        write_file("f.c", "", 0600);
        vers.ts_user = client_has_copy ? opt_str("stamp") : std::nullopt;
        results_.register_entry("f.c", "1.1", "", "", std::nullopt, std::nullopt, std::nullopt);
        results_.updated(&finfo_, &vers, SERVER_UPDATED, SERVER_FILE_MODE, nullptr, nullptr);
    }
    auto r = records();
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0], "Created sub/\n/r/m/f.c\n/f.c/1.1///\nu=rw,g=,o=\n0\n");
    EXPECT_EQ(r[1], "Update-existing sub/\n/r/m/f.c\n/f.c/1.1///\nu=rw,g=,o=\n0\n");
    // Later steps of the command take the sent file as unchanged.
    EXPECT_EQ(entries_find(entries_, "f.c")->timestamp, "=");
}

// Length of the data inflated from gzip bytes, or -1 when they are bad.
long gunzipped_length(const std::string &gz) {
    z_stream zs{};
    if (inflateInit2(&zs, 16 + MAX_WBITS) != Z_OK)
        return -1;
    std::string out(4096, '\0');
    zs.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(gz.data()));
    zs.avail_in = static_cast<uInt>(gz.size());
    zs.next_out = reinterpret_cast<Bytef *>(out.data());
    zs.avail_out = static_cast<uInt>(out.size());
    int rc = inflate(&zs, Z_FINISH);
    long n = rc == Z_STREAM_END ? static_cast<long>(zs.total_out) : -1;
    inflateEnd(&zs);
    return n;
}

TEST_F(ResultsTest, FilesAbove100BytesAreCompressedWhenAsked) {
    file_gzip_level = 6;
    const std::string hundred(100, 'a');
    write_file("f.c", hundred);
    results_.register_entry("f.c", "1.1", "", "", std::nullopt, std::nullopt, std::nullopt);
    results_.updated(&finfo_, nullptr, SERVER_MERGED, SERVER_FILE_MODE, nullptr, nullptr);
    write_file("f.c", hundred + "b");
    results_.register_entry("f.c", "1.1", "", "", std::nullopt, std::nullopt, std::nullopt);
    results_.updated(&finfo_, nullptr, SERVER_MERGED, SERVER_FILE_MODE, nullptr, nullptr);
    auto r = records();
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0], "Merged sub/\n/r/m/f.c\n/f.c/1.1///\nu=rw,g=r,o=r\n100\n" + hundred);
    const std::string head = "Merged sub/\n/r/m/f.c\n/f.c/1.1///\nu=rw,g=r,o=r\nz";
    ASSERT_EQ(r[1].compare(0, head.size(), head), 0) << r[1];
    size_t nl = r[1].find('\n', head.size());
    ASSERT_NE(nl, std::string::npos);
    std::string gz = r[1].substr(nl + 1);
    EXPECT_EQ(std::to_string(gz.size()), r[1].substr(head.size(), nl - head.size()));
    EXPECT_EQ(gunzipped_length(gz), 101);
}

TEST_F(ResultsTest, SentCopyIsRemovedUnlessMergedOrJoining) {
    auto send = [&](int kind) {
        write_file("f.c", "data\n");
        results_.register_entry("f.c", "1.1", "", "", std::nullopt, std::nullopt, std::nullopt);
        results_.updated(&finfo_, nullptr, kind, SERVER_FILE_MODE, nullptr, nullptr);
        return fs::exists("f.c");
    };
    EXPECT_FALSE(send(SERVER_PATCHED));
    EXPECT_TRUE(send(SERVER_MERGED));
    server_joining = true;
    EXPECT_TRUE(send(SERVER_RCS_DIFF));
    server_joining = false;
    EXPECT_EQ(records().size(), 3u);

    // A copy that vanished sends nothing and leaves no entry pending.
    fs::remove("f.c");
    results_.register_entry("f.c", "1.1", "", "", std::nullopt, std::nullopt, std::nullopt);
    results_.updated(&finfo_, nullptr, SERVER_UPDATED, SERVER_FILE_MODE, nullptr, nullptr);
    EXPECT_EQ(records().size(), 3u);
    results_.update_entries("f.c", "sub", "/r/m", SERVER_UPDATED);
    EXPECT_EQ(records().back(),
              "Checked-in sub/\n/r/m/f.c\nJOL server internal error: Register missing\n");
}

TEST_F(ResultsTest, DirectoryResponses) {
    results_.copy_file("f.c", "sub", "/r/m", ".#f.c.1.1");
    results_.set_sticky("sub", "/r/m", "rel", std::nullopt, 1);
    results_.set_sticky(".", "/r/m", "br", std::nullopt, 0);
    results_.set_sticky("sub", "/r/m", std::nullopt, "2023.01.01.00.00.00", 0);
    results_.set_sticky("sub", "/r/m", std::nullopt, std::nullopt, 0);
    results_.set_entstat("sub", "/r/m");
    results_.clear_entstat("", "/r/m");
    noexec = 1;
    results_.set_sticky("sub", "/r/m", "rel", std::nullopt, 0);
    results_.clear_entstat("sub", "/r/m");
    results_.checked_in("f.c", "sub", "/r/m");
    noexec = 0;
    auto r = records();
    ASSERT_EQ(r.size(), 6u);
    // Copy-file rides in the next record.
    EXPECT_EQ(r[0], "Copy-file sub/\n/r/m/f.c\n.#f.c.1.1\nSet-sticky sub/\n/r/m/\nNrel\n");
    EXPECT_EQ(r[1], "Set-sticky ./\n/r/m/\nTbr\n");
    EXPECT_EQ(r[2], "Set-sticky sub/\n/r/m/\nD2023.01.01.00.00.00\n");
    EXPECT_EQ(r[3], "Clear-sticky sub/\n/r/m/\n");
    EXPECT_EQ(r[4], "Set-static-directory sub/\n/r/m/\n");
    EXPECT_EQ(r[5], "Clear-static-directory ./\n/r/m/\n");
}

TEST_F(ResultsTest, ResponsesTheClientLacksAreLeftOut) {
    client_takes("ok error Valid-requests Checked-in Updated Remove-entry Removed M E");
    write_file("f.c", "x\n");
    results_.copy_file("f.c", "sub", "/r/m", ".#f.c.1.1");
    results_.set_sticky("sub", "/r/m", "rel", std::nullopt, 0);
    results_.set_entstat("sub", "/r/m");
    results_.register_entry("f.c", "1.1", "", "", std::nullopt, std::nullopt, std::nullopt);
    results_.update_entries("f.c", "sub", "/r/m", SERVER_MERGED);
    results_.checked_in("f.c", "sub", "/r/m");
    EXPECT_FALSE(results_.use_rcs_diff());
    auto r = records();
    ASSERT_EQ(r.size(), 1u);
    // New-entry was not sent, so its entry went with the next response.
    EXPECT_EQ(r[0], "Checked-in sub/\n/r/m/f.c\n/f.c/1.1///\n");
}

}  // namespace
