// Importing and exporting proxy list files on the in-memory window.
#include "list_test_support.h"
#include "proxylist/list_files.h"
#include "shell/control_names.h"
#include "shell/memory_window_port.h"
#include "text/codepage.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

namespace kestrova {
namespace {

using testing::addresses_of;
using testing::read_file;
using testing::Row;
using testing::rows_of;
using testing::write_file;
using text::gbk;

/// A window whose save dialog lets `while_saving` run while it is open.
class SlowSaveWindow : public MemoryWindowPort {
public:
    std::optional<std::string> ask_save_file(const FileDialogRequest& request) override {
        if (while_saving)
            while_saving();
        return MemoryWindowPort::ask_save_file(request);
    }
    std::function<void()> while_saving;
};

class ListFiles : public ::testing::Test {
protected:
    void import_file(const std::string& path) {
        window.queue_file_choice(path);
        import_proxies(window, dialogs, Pacing::every_row());
    }
    std::vector<std::string> import_bytes(const std::string& bytes) {
        write_file(folder.file("in.txt"), bytes);
        import_file(folder.file("in.txt"));
        return addresses_of(window);
    }
    void add_rows(const std::vector<std::string>& addresses) {
        for (const std::string& address : addresses)
            window.write_cell(window.append_row(), column::address, address);
    }
    void export_to(const std::string& typed) {
        window.queue_file_choice(typed);
        export_proxies(window, dialogs);
    }
    void export_to_with_pauses(const std::string& typed) {
        window.queue_file_choice(typed);
        export_proxies(window, dialogs, Pacing::every_row());
    }
    std::string caption() { return window.caption(controls::proxy_frame); }
    /// The names in the scratch folder (a temporary file left behind shows).
    std::vector<std::string> folder_names() {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder.path()))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    SlowSaveWindow window;
    ListFileDialogs dialogs;
    testing::ScratchFolder folder;
};

std::string utf16(std::u16string_view units, bool big_endian) {
    std::string bytes = big_endian ? "\xFE\xFF" : "\xFF\xFE";
    for (char16_t unit : units) {
        char high = static_cast<char>(unit >> 8);
        char low = static_cast<char>(unit & 0xFF);
        bytes += big_endian ? std::string{high, low} : std::string{low, high};
    }
    return bytes;
}

// --- import ---------------------------------------------------------------------

struct ImportCase {
    const char* name;
    std::string bytes;
    std::vector<std::string> addresses;
};

class ImportLines : public ListFiles, public ::testing::WithParamInterface<ImportCase> {};

TEST_P(ImportLines, AppendsEveryLineWaitingForVerification) {
    EXPECT_EQ(import_bytes(GetParam().bytes), GetParam().addresses);
    std::vector<Row> rows = rows_of(window);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].number, std::to_string(i + 1));
        EXPECT_EQ(rows[i].status, gbk("等待验证"));
    }
    EXPECT_EQ(caption(), gbk("代理(") + std::to_string(rows.size()) + ")");
    EXPECT_TRUE(window.message_boxes().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Files, ImportLines,
    ::testing::Values(
        ImportCase{
            "CrLfAfterEveryLine", "1.1.1.1:80\r\n2.2.2.2:81\r\n", {"1.1.1.1:80", "2.2.2.2:81"}},
        ImportCase{"NoFinalLineEnd", "1.1.1.1:80\r\n2.2.2.2:81", {"1.1.1.1:80", "2.2.2.2:81"}},
        ImportCase{"EmptyLineInTheMiddle", "a:1\r\n\r\nb:2\r\n", {"a:1", "", "b:2"}},
        ImportCase{"LfOnly", "a:1\nb:2\n", {"a:1", "b:2"}},
        ImportCase{"LfAndCrLfMixed", "a:1\r\nb:2\nc:3", {"a:1", "b:2", "c:3"}},
        ImportCase{"EmptyLfLines", "\n\n", {"", ""}}, ImportCase{"OnlyCrLf", "\r\n", {""}},
        ImportCase{"EmptyFile", "", {}},
        ImportCase{"LoneCrIsText", "a\rb\r\nc\r\r\n", {"a\rb", "c\r"}},
        ImportCase{"BlanksStay", " a:1 \r\n", {" a:1 "}},
        ImportCase{"UpToTheFirstNul", std::string("a:1\r\nb:2\0c:3\r\n", 14), {"a:1", "b:2"}},
        ImportCase{"Utf8BomDropped",
                   "\xEF\xBB\xBF"
                   "a:1\r\nb:2",
                   {"a:1", "b:2"}},
        ImportCase{"Utf8BomOnlyAtTheStart",
                   "a:1\r\n\xEF\xBB\xBF"
                   "b:2",
                   {"a:1", "\xEF\xBB\xBF"
                           "b:2"}},
        ImportCase{"Utf16LittleEndian",
                   utf16(u"1.1.1.1:80\r\n代理:8080\n", false),
                   {"1.1.1.1:80", gbk("代理:8080")}},
        ImportCase{"Utf16BigEndian",
                   utf16(u"1.1.1.1:80\r\n代理:8080", true),
                   {"1.1.1.1:80", gbk("代理:8080")}},
        ImportCase{"Utf16UpToTheFirstNul",
                   utf16(std::u16string(u"a:1\nb:2\0c:3", 11), false),
                   {"a:1", "b:2"}},
        // Bytes that are no valid code page 936 come in as they are; a byte
        // of 0x80 or above takes the next byte with it, LF included.
        ImportCase{"InvalidCodePage936",
                   "\x81\x20\xFF\xFF\r\n\x80\x7F:1\n\xFE\n\nx",
                   {"\x81\x20\xFF\xFF", "\x80\x7F:1", "\xFE\n", "x"}},
        ImportCase{"ControlBytes", "\x01\x02\t\x1B:1\r\n", {"\x01\x02\t\x1B:1"}}),
    [](const auto& info) { return info.param.name; });

TEST_F(ListFiles, ImportAppendsAfterTheRowsThereAndNumbersFromOne) {
    add_rows({"x:1", "y:2"});
    import_bytes("a:1\r\nb:2\r\n");
    EXPECT_EQ(testing::numbers_of(window), (std::vector<std::string>{"", "", "1", "2"}));
    EXPECT_EQ(addresses_of(window), (std::vector<std::string>{"x:1", "y:2", "a:1", "b:2"}));
    EXPECT_EQ(caption(), gbk("代理(4)"));
}

TEST_F(ListFiles, ImportOfAFileThatCannotBeReadAddsNothingAndSaysNothing) {
    write_file(folder.file("plain.txt"), "a:1\r\n");
    std::filesystem::create_directory(folder.file("folder.txt"));
    add_rows({"x:1"});
    for (const std::string& path : {folder.file("missing.txt"), folder.file("folder.txt"),
                                    folder.file("plain.txt/under.txt"), std::string("/dev/null")}) {
        window.set_caption(controls::proxy_frame, "stale");
        import_file(path);
        EXPECT_EQ(window.row_count(), 1u) << path;
        EXPECT_EQ(caption(), gbk("代理(1)")) << path;
    }
    EXPECT_TRUE(window.message_boxes().empty());
}

TEST_F(ListFiles, CancellingTheImportStillRewritesTheCaption) {
    add_rows({"x:1"});
    window.set_caption(controls::proxy_frame, "stale");
    window.queue_file_choice(std::nullopt);
    import_proxies(window, dialogs, Pacing::every_row());
    EXPECT_EQ(caption(), gbk("代理(1)"));
    EXPECT_EQ(window.row_count(), 1u);
}

TEST_F(ListFiles, ImportsALongLineAndAMillionEmptyLines) {
    std::string long_line(10 * 1024 * 1024, '7');
    EXPECT_EQ(import_bytes(long_line), std::vector<std::string>{long_line});

    window.remove_all_rows();
    std::string empty_lines;
    for (int i = 0; i < 1'000'000; ++i)
        empty_lines += "\r\n";
    write_file(folder.file("empty.txt"), empty_lines);
    window.queue_file_choice(folder.file("empty.txt"));
    import_proxies(window, dialogs, Pacing{});
    ASSERT_EQ(window.row_count(), 1'000'000u);
    EXPECT_EQ(window.read_cell(999'999, column::number), "1000000");
    EXPECT_EQ(window.read_cell(999'999, column::address), "");
    EXPECT_EQ(window.read_cell(999'999, column::status), gbk("等待验证"));
    EXPECT_EQ(caption(), gbk("代理(1000000)"));
}

// --- export ---------------------------------------------------------------------

TEST_F(ListFiles, ExportWritesEveryAddressWithCrLfInDisplayOrder) {
    add_rows({"1.1.1.1:80", "", " b:2 "});
    window.write_cell(0, column::status, gbk("可以用"));
    export_to(folder.file("out.txt"));
    EXPECT_EQ(read_file(folder.file("out.txt")), "1.1.1.1:80\r\n\r\n b:2 \r\n");
    EXPECT_EQ(window.message_boxes(), std::vector<std::string>{gbk("保存成功！")});
    EXPECT_TRUE(window.questions().empty());
}

TEST_F(ListFiles, ExportOfAnEmptyListWritesAnEmptyFile) {
    write_file(folder.file("out.txt"), "old\r\n");
    window.queue_answer(true);
    export_to(folder.file("out.txt"));
    EXPECT_TRUE(std::filesystem::exists(folder.file("out.txt")));
    EXPECT_EQ(read_file(folder.file("out.txt")), "");
    EXPECT_EQ(window.message_boxes(), std::vector<std::string>{gbk("保存成功！")});
}

TEST_F(ListFiles, CancellingTheExportWritesAndShowsNothing) {
    add_rows({"a:1"});
    window.queue_file_choice(std::nullopt);
    export_proxies(window, dialogs);
    EXPECT_TRUE(folder_names().empty());
    EXPECT_TRUE(window.message_boxes().empty());
}

TEST(ExportTarget, AddsTxtOnlyWhenTheNameHasNoExtension) {
    const std::pair<std::string, std::string> cases[] = {
        {"/data/proxies", "/data/proxies.txt"},
        {"/data/proxies.txt", "/data/proxies.txt"},
        {"/data/proxies.TXT", "/data/proxies.TXT"},
        {"/data/list.txt.bak", "/data/list.txt.bak"},
        {"/data/list.csv", "/data/list.csv"},
        {"/data.d/proxies", "/data.d/proxies.txt"},
        {"/data/.proxies", "/data/.proxies.txt"},
        {"proxies", "proxies.txt"},
        {"/data/", "/data/"},
    };
    for (const auto& [chosen, target] : cases)
        EXPECT_EQ(export_target(chosen), target) << chosen;
}

TEST_F(ListFiles, TheQuestionBeforeReplacingIsAboutTheFinalName) {
    add_rows({"new:1"});
    write_file(folder.file("proxies.txt"), "old:1\r\n");

    window.queue_answer(false);
    export_to(folder.file("proxies"));
    ASSERT_EQ(window.questions().size(), 1u);
    EXPECT_NE(window.questions()[0].find(folder.file("proxies.txt")), std::string::npos);
    EXPECT_EQ(read_file(folder.file("proxies.txt")), "old:1\r\n");
    EXPECT_TRUE(window.message_boxes().empty());
    EXPECT_FALSE(window.file_requests().back().confirm_overwrite);

    window.queue_answer(true);
    export_to(folder.file("proxies"));
    EXPECT_EQ(read_file(folder.file("proxies.txt")), "new:1\r\n");
    EXPECT_EQ(window.message_boxes(), std::vector<std::string>{gbk("保存成功！")});
    EXPECT_EQ(folder_names(), std::vector<std::string>{"proxies.txt"});
}

TEST_F(ListFiles, ANewFileIsWrittenWithoutAQuestion) {
    add_rows({"a:1"});
    export_to(folder.file("proxies.TXT"));
    EXPECT_EQ(read_file(folder.file("proxies.TXT")), "a:1\r\n");
    EXPECT_TRUE(window.questions().empty());
}

TEST_F(ListFiles, RowsChangedWhileTheSaveDialogIsOpenDoNotReachTheFile) {
    add_rows({"a:1", "b:2"});
    window.while_saving = [&] {
        window.remove_row(0);
        add_rows({"c:3"});
    };
    export_to(folder.file("out.txt"));
    EXPECT_EQ(read_file(folder.file("out.txt")), "a:1\r\nb:2\r\n");
}

// The text is taken in slices with messages let through between them; a
// list that changes meanwhile is taken afresh, so the file always holds the
// list as it was at one moment, never a mix.
TEST_F(ListFiles, AListChangedWhileTheTextIsTakenIsTakenAfresh) {
    add_rows({"a:1", "b:2", "c:3"});
    bool removed = false;
    window.set_message_hook([&] {
        if (!std::exchange(removed, true))
            window.remove_row(2);
    });
    export_to_with_pauses(folder.file("out.txt"));
    EXPECT_EQ(read_file(folder.file("out.txt")), "a:1\r\nb:2\r\n");
}

TEST_F(ListFiles, AListThatKeepsChangingIsStillWrittenAsAWhole) {
    std::vector<std::string> addresses;
    for (int i = 0; i < 20; ++i)
        addresses.push_back("r" + std::to_string(i));
    add_rows(addresses);
    window.set_message_hook([&] {
        if (window.row_count() > 1)
            window.remove_row(0);
    });
    export_to_with_pauses(folder.file("out.txt"));
    // Whatever was removed first, what was written is the list at one moment:
    // a run of the last rows, none skipped.
    std::string written = read_file(folder.file("out.txt"));
    std::string tail;
    bool is_a_tail = written.empty();
    for (int i = 19; i >= 0 && !is_a_tail; --i) {
        tail = addresses[static_cast<std::size_t>(i)] + "\r\n" + tail;
        is_a_tail = written == tail;
    }
    EXPECT_TRUE(is_a_tail) << written;
    EXPECT_FALSE(written.empty());
}

TEST_F(ListFiles, AReplacedFileKeepsItsPermissionsAndLinksAreFollowed) {
    add_rows({"a:1"});
    write_file(folder.file("real.txt"), "old\r\n");
    std::filesystem::permissions(folder.file("real.txt"), std::filesystem::perms(0640));
    std::filesystem::create_symlink(folder.file("real.txt"), folder.file("link.txt"));
    window.queue_answer(true);
    export_to(folder.file("link.txt"));
    EXPECT_TRUE(std::filesystem::is_symlink(folder.file("link.txt")));
    EXPECT_EQ(read_file(folder.file("real.txt")), "a:1\r\n");
    EXPECT_EQ(std::filesystem::status(folder.file("real.txt")).permissions(),
              std::filesystem::perms(0640));
    EXPECT_EQ(folder_names(), (std::vector<std::string>{"link.txt", "real.txt"}));
}

// --- failed exports -------------------------------------------------------------

bool says_failed_because(const std::vector<std::string>& boxes, const char* reason) {
    return boxes.size() == 1 && boxes[0].starts_with(gbk("保存失败：")) &&
           boxes[0].find(gbk(reason)) != std::string::npos;
}

TEST_F(ListFiles, AFailedWriteIsReportedWithItsReason) {
    add_rows({"a:1"});
    write_file(folder.file("plain.txt"), "old\r\n");
    std::filesystem::create_directory(folder.file("folder.txt"));
    std::filesystem::create_symlink("/dev/full", folder.file("full.txt"));
    const std::pair<std::string, const char*> cases[] = {
        {folder.file("folder.txt"), "这是一个文件夹"},
        {folder.file("plain.txt/out.txt"), "路径中有一段不是文件夹"},
        {folder.file("missing/out.txt"), "文件夹不存在"},
        {folder.file("full.txt"), "磁盘空间不足"},
    };
    for (const auto& [path, reason] : cases) {
        MemoryWindowPort fresh;
        fresh.write_cell(fresh.append_row(), column::address, "a:1");
        fresh.queue_file_choice(path);
        fresh.queue_answer(true);
        export_proxies(fresh, dialogs);
        EXPECT_TRUE(says_failed_because(fresh.message_boxes(), reason))
            << path << ": " << (fresh.message_boxes().empty() ? "" : fresh.message_boxes()[0]);
    }
    EXPECT_TRUE(std::filesystem::is_character_file("/dev/full"));
    EXPECT_EQ(read_file(folder.file("plain.txt")), "old\r\n");
    EXPECT_EQ(folder_names(), (std::vector<std::string>{"folder.txt", "full.txt", "plain.txt"}));
}

/// While it lives, files cannot grow beyond `bytes` (as on a full disk).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &old_);
        rlimit limit = old_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
        old_handler_ = std::signal(SIGXFSZ, SIG_IGN);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, old_handler_);
    }

private:
    rlimit old_{};
    void (*old_handler_)(int) = nullptr;
};

TEST_F(ListFiles, AWriteThatFailsHalfWayLeavesTheOldFileWhole) {
    std::vector<std::string> many(1000, "192.168.100.200:8080");
    add_rows(many);
    write_file(folder.file("proxies.txt"), "old:1\r\n");
    window.queue_answer(true);
    {
        FileSizeLimit limit(4096);
        export_to(folder.file("proxies.txt"));
    }
    EXPECT_TRUE(says_failed_because(window.message_boxes(), "文件太大"));
    EXPECT_EQ(read_file(folder.file("proxies.txt")), "old:1\r\n");
    EXPECT_EQ(folder_names(), std::vector<std::string>{"proxies.txt"});
}

/// Runs `check` in a child process that has no more rights than an ordinary
/// user (the tests may run as root); true when it passed.
bool passes_unprivileged(const std::function<bool()>& check) {
    pid_t child = fork();
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(2);
        _exit(check() ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST_F(ListFiles, WithoutPermissionImportAddsNothingAndExportLeavesTheOldFile) {
    write_file(folder.file("secret.txt"), "a:1\r\n");
    std::filesystem::permissions(folder.file("secret.txt"), std::filesystem::perms::none);
    write_file(folder.file("proxies.txt"), "old:1\r\n");
    std::filesystem::permissions(folder.file("proxies.txt"), std::filesystem::perms(0666));
    // Readable, but no new file may be made in it (root's child runs as nobody).
    std::filesystem::permissions(folder.path(), std::filesystem::perms(0555));

    EXPECT_TRUE(passes_unprivileged([&] {
        MemoryWindowPort window;
        window.queue_file_choice(folder.file("secret.txt"));
        import_proxies(window, dialogs, Pacing::every_row());
        return window.row_count() == 0 && window.message_boxes().empty() &&
               window.caption(controls::proxy_frame) == gbk("代理(0)");
    }));
    EXPECT_TRUE(passes_unprivileged([&] {
        MemoryWindowPort window;
        window.write_cell(window.append_row(), column::address, "new:1");
        window.queue_file_choice(folder.file("proxies.txt"));
        window.queue_answer(true);
        export_proxies(window, dialogs);
        return says_failed_because(window.message_boxes(), "没有写入权限");
    }));
    std::filesystem::permissions(folder.path(), std::filesystem::perms(0755));
    EXPECT_EQ(read_file(folder.file("proxies.txt")), "old:1\r\n");
    EXPECT_EQ(folder_names(), (std::vector<std::string>{"proxies.txt", "secret.txt"}));
}

// In a folder anyone may write to, a read-only file could be renamed over;
// it stays as it is, as it would if it were written in place.
TEST_F(ListFiles, AReadOnlyFileIsNotReplaced) {
    std::filesystem::permissions(folder.path(), std::filesystem::perms(0777));
    write_file(folder.file("locked.txt"), "old:1\r\n");
    std::filesystem::permissions(folder.file("locked.txt"), std::filesystem::perms(0444));
    EXPECT_TRUE(passes_unprivileged([&] {
        MemoryWindowPort window;
        window.write_cell(window.append_row(), column::address, "new:1");
        window.queue_file_choice(folder.file("locked.txt"));
        window.queue_answer(true);
        export_proxies(window, dialogs);
        return says_failed_because(window.message_boxes(), "没有写入权限");
    }));
    EXPECT_EQ(read_file(folder.file("locked.txt")), "old:1\r\n");
    EXPECT_EQ(folder_names(), std::vector<std::string>{"locked.txt"});
}

// --- the dialogs ----------------------------------------------------------------

TEST_F(ListFiles, EachDialogRemembersItsOwnPathAndStartsInTheLastFolder) {
    const char* home = std::getenv("HOME");
    write_file(folder.file("in.txt"), "a:1\r\n");
    import_file(folder.file("in.txt"));
    std::filesystem::create_directory(folder.file("out"));
    export_to(folder.file("out/list"));
    import_file(folder.file("in.txt"));
    export_to(folder.file("out/list"));

    std::vector<FileDialogRequest> requests = window.file_requests();
    ASSERT_EQ(requests.size(), 4u);
    for (const FileDialogRequest& request : requests) {
        EXPECT_EQ(request.filter_description, gbk("文本文档"));
        EXPECT_EQ(request.filter_pattern, "*.txt");
    }
    EXPECT_EQ(requests[0].dialog, controls::import_dialog);
    EXPECT_EQ(requests[0].initial_directory, home ? home : "");
    EXPECT_EQ(requests[0].initial_file, "");
    EXPECT_EQ(requests[1].dialog, controls::export_dialog);
    EXPECT_EQ(requests[1].initial_directory, folder.path().string());
    EXPECT_EQ(requests[1].initial_file, "");
    EXPECT_EQ(requests[2].initial_file, folder.file("in.txt"));
    EXPECT_EQ(requests[2].initial_directory, folder.file("out"));
    // As the dialog returned it, without the ".txt" the export added.
    EXPECT_EQ(requests[3].initial_file, folder.file("out/list"));
}

// --- round trip -----------------------------------------------------------------

TEST_F(ListFiles, ExportThenImportGivesTheSameAddressesRenumberedAndWaiting) {
    const std::vector<std::string> addresses = {
        "1.1.1.1:80",         "",         " 2.2.2.2:81 ", gbk("代理:8080"),
        "\x81\x20\xFF\xFF:1", "\x80\x7F", "a\rb",         "1.1.1.1:80"};
    add_rows(addresses);
    window.write_cell(0, column::number, "7");
    window.write_cell(0, column::status, gbk("可以用"));
    export_to(folder.file("trip.txt"));

    MemoryWindowPort other;
    other.queue_file_choice(folder.file("trip.txt"));
    import_proxies(other, dialogs, Pacing::every_row());
    std::vector<Row> expected;
    for (std::size_t i = 0; i < addresses.size(); ++i)
        expected.push_back({std::to_string(i + 1), addresses[i], gbk("等待验证")});
    EXPECT_EQ(rows_of(other), expected);
}

} // namespace
} // namespace kestrova
