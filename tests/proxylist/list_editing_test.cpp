// Adding, clearing, removing duplicates and renumbering on the in-memory
// window, with messages let through after every row so an injected click can
// land between any two rows.
#include "list_test_support.h"
#include "proxylist/list_editing.h"
#include "shell/control_names.h"
#include "shell/memory_window_port.h"
#include "text/codepage.h"

#include <gtest/gtest.h>
#include <thread>

namespace kestrova {
namespace {

using testing::numbers_of;
using testing::Row;
using testing::rows_of;
using text::gbk;

constexpr Pacing every_row = Pacing::every_row();

/// A window that counts reads, writes and removals of rows that do not exist.
class WatchedWindow : public MemoryWindowPort {
public:
    std::string read_cell(std::size_t row, int column) override {
        note(row);
        return MemoryWindowPort::read_cell(row, column);
    }
    void write_cell(std::size_t row, int column, std::string_view text) override {
        note(row);
        MemoryWindowPort::write_cell(row, column, text);
    }
    void remove_row(std::size_t row) override {
        note(row);
        MemoryWindowPort::remove_row(row);
    }
    int missing_rows_touched = 0;

private:
    void note(std::size_t row) {
        if (row >= row_count())
            ++missing_rows_touched;
    }
};

class ListEditing : public ::testing::Test {
protected:
    void add(const std::string& box) {
        window.set_box_text(controls::proxy_input, box);
        add_to_list(window, every_row);
    }
    void add_rows(const std::vector<std::string>& addresses) {
        for (const std::string& address : addresses)
            window.write_cell(window.append_row(), column::address, address);
    }
    /// Runs `click` once, at the `nth` (1-based) time messages are let through.
    void click_at_message(std::size_t nth, std::function<void()> click) {
        auto seen = std::make_shared<std::size_t>(0);
        window.set_message_hook([seen, nth, click] {
            if (++*seen == nth)
                click();
        });
    }
    std::string caption() { return window.caption(controls::proxy_frame); }

    WatchedWindow window;
};

struct AddCase {
    const char* name;
    std::string box;
    std::vector<std::string> addresses;
};

class AddToList : public ListEditing, public ::testing::WithParamInterface<AddCase> {};

TEST_P(AddToList, MakesOneNumberedRowPerLineAndEmptiesTheBox) {
    add(GetParam().box);
    std::vector<Row> expected;
    for (std::size_t i = 0; i < GetParam().addresses.size(); ++i)
        expected.push_back({std::to_string(i + 1), GetParam().addresses[i], ""});
    EXPECT_EQ(rows_of(window), expected);
    EXPECT_EQ(caption(), proxy_count_caption(expected.size()));
    EXPECT_EQ(window.box_text(controls::proxy_input), "");
}

INSTANTIATE_TEST_SUITE_P(
    Lines, AddToList,
    ::testing::Values(
        AddCase{"ThreeLinesAndAFinalCrLf",
                "1.1.1.1:80\r\n2.2.2.2:81\r\n3.3.3.3:82\r\n",
                {"1.1.1.1:80", "2.2.2.2:81", "3.3.3.3:82"}},
        AddCase{"NoFinalCrLf", "1.1.1.1:80\r\n2.2.2.2:81", {"1.1.1.1:80", "2.2.2.2:81"}},
        AddCase{"OnlyCrLf", "\r\n", {""}}, AddCase{"EmptyBox", "", {}},
        AddCase{"EmptyLineInTheMiddle", "a:1\r\n\r\nb:2", {"a:1", "", "b:2"}},
        AddCase{"BlanksStay", " 1.1.1.1:80 \r\n\t2.2.2.2:81", {" 1.1.1.1:80 ", "\t2.2.2.2:81"}},
        AddCase{"LoneCrAndLfAreText", "a\rb\nc\r\nd", {"a\rb\nc", "d"}},
        // 0xB0 0x0D is one character, so the CR LF after 0xB0 is no line end.
        AddCase{"SeparatorOnlyAtACharacterBoundary",
                "\xB0\r\nx\r\n\xB0\xA1\r\ny",
                {"\xB0\r\nx", "\xB0\xA1", "y"}}),
    [](const auto& info) { return info.param.name; });

TEST_F(ListEditing, AddedRowsFollowTheListAndNumberFromOneAgain) {
    add("a:1\r\nb:2\r\nc:3\r\nd:4\r\ne:5");
    add("f:6\r\ng:7\r\n");
    EXPECT_EQ(numbers_of(window), (std::vector<std::string>{"1", "2", "3", "4", "5", "1", "2"}));
    EXPECT_EQ(window.read_cell(6, column::address), "g:7");
    EXPECT_EQ(caption(), gbk("代理(7)"));
}

TEST_F(ListEditing, AnEmptyBoxStillRewritesTheCaption) {
    add_rows({"a:1", "b:2"});
    window.set_caption(controls::proxy_frame, gbk("代理(9)"));
    add("");
    EXPECT_EQ(caption(), gbk("代理(2)"));
    EXPECT_EQ(window.row_count(), 2u);
}

TEST_F(ListEditing, ClearingEmptiesTheListOnly) {
    add("a:1\r\nb:2");
    window.set_box_text(controls::proxy_input, "c:3");
    window.append_to_box(controls::activity_log, "entry\r\n");
    clear_list(window);
    EXPECT_EQ(window.row_count(), 0u);
    EXPECT_EQ(caption(), gbk("代理(0)"));
    EXPECT_EQ(window.box_text(controls::proxy_input), "c:3");
    EXPECT_EQ(window.box_text(controls::activity_log), "entry\r\n");
}

struct DuplicateCase {
    const char* name;
    std::vector<std::string> addresses;
    std::vector<std::string> kept;
    const char* report; // UTF-8
};

class RemoveDuplicates : public ListEditing, public ::testing::WithParamInterface<DuplicateCase> {};

TEST_P(RemoveDuplicates, KeepsTheFirstOfEqualAddressesAndRenumbers) {
    add_rows(GetParam().addresses);
    remove_duplicates(window, every_row);
    EXPECT_EQ(testing::addresses_of(window), GetParam().kept);
    std::vector<std::string> numbers;
    for (std::size_t i = 1; i <= GetParam().kept.size(); ++i)
        numbers.push_back(std::to_string(i));
    EXPECT_EQ(numbers_of(window), numbers);
    EXPECT_EQ(window.message_boxes(), std::vector<std::string>{gbk(GetParam().report)});
    EXPECT_EQ(caption(), proxy_count_caption(GetParam().kept.size()));
}

INSTANTIATE_TEST_SUITE_P(
    WholeAddresses, RemoveDuplicates,
    ::testing::Values(
        DuplicateCase{"EmptyList", {}, {}, "没有重复的内容！"},
        DuplicateCase{
            "Repeats", {"x:1", "y:2", "x:1", "x:1", "y:2"}, {"x:1", "y:2"}, "共删除3个重复内容！"},
        // A shorter address inside a longer one is a different proxy.
        DuplicateCase{"PrefixAfterLonger",
                      {"1.1.1.1:8080", "1.1.1.1:80"},
                      {"1.1.1.1:8080", "1.1.1.1:80"},
                      "没有重复的内容！"},
        DuplicateCase{"LongerAfterPrefix",
                      {"1.1.1.1:80", "1.1.1.1:8080"},
                      {"1.1.1.1:80", "1.1.1.1:8080"},
                      "没有重复的内容！"},
        DuplicateCase{"BlankAddedAfter",
                      {"1.1.1.1:80", "1.1.1.1:80 "},
                      {"1.1.1.1:80", "1.1.1.1:80 "},
                      "没有重复的内容！"},
        DuplicateCase{"BlankAddedBefore",
                      {"1.1.1.1:80 ", "1.1.1.1:80"},
                      {"1.1.1.1:80 ", "1.1.1.1:80"},
                      "没有重复的内容！"},
        DuplicateCase{"AcrossTheJoinOfTwo",
                      {"a:1", "b:2", "1\r\nb"},
                      {"a:1", "b:2", "1\r\nb"},
                      "没有重复的内容！"},
        DuplicateCase{"CaseDiffers",
                      {"proxy.Example:80", "proxy.example:80"},
                      {"proxy.Example:80", "proxy.example:80"},
                      "没有重复的内容！"},
        DuplicateCase{
            "EmptyFirstAndLater", {"", "a:1", "", ""}, {"", "a:1"}, "共删除2个重复内容！"},
        DuplicateCase{"EmptyAfterAddresses",
                      {"a:1", "b:2", "", "b:2"},
                      {"a:1", "b:2", ""},
                      "共删除1个重复内容！"},
        // Byte for byte: code page 936 text, and a pair that differs in its
        // trail byte only.
        DuplicateCase{"CodePage936",
                      {"\xB4\xFA\xC0\xED:1", "\xB4\xFA\xC0\xED:1", "\xB4\xFA\xC0\xEE:1"},
                      {"\xB4\xFA\xC0\xED:1", "\xB4\xFA\xC0\xEE:1"},
                      "共删除1个重复内容！"}),
    [](const auto& info) { return info.param.name; });

TEST_F(ListEditing, StatusPlaysNoPartInRemovingDuplicates) {
    add("a:1\r\n");
    std::size_t verified = window.append_row();
    window.write_cell(verified, column::address, "a:1");
    window.write_cell(verified, column::status, gbk("可以用"));
    remove_duplicates(window, every_row);
    EXPECT_EQ(rows_of(window), (std::vector<Row>{{"1", "a:1", ""}}));
}

TEST_F(ListEditing, RemovingNothingStillRenumbers) {
    add("a:1\r\nb:2");
    add("c:3\r\nd:4");
    ASSERT_EQ(numbers_of(window), (std::vector<std::string>{"1", "2", "1", "2"}));
    remove_duplicates(window, every_row);
    EXPECT_EQ(numbers_of(window), (std::vector<std::string>{"1", "2", "3", "4"}));
    EXPECT_EQ(window.message_boxes(), std::vector<std::string>{gbk("没有重复的内容！")});
}

// --- clicks that land in the middle of a long action ------------------------

TEST_F(ListEditing, AClearInTheMiddleOfAddingLeavesTheRestOfTheBatch) {
    window.set_box_text(controls::proxy_input, "a:1\r\nb:2\r\nc:3");
    click_at_message(1, [&] { clear_list(window); });
    add_to_list(window, every_row);
    EXPECT_EQ(rows_of(window), (std::vector<Row>{{"2", "b:2", ""}, {"3", "c:3", ""}}));
    EXPECT_EQ(caption(), gbk("代理(2)"));
    EXPECT_EQ(window.missing_rows_touched, 0);
}

TEST_F(ListEditing, ANestedAddRunsToItsEndBeforeTheOuterGoesOn) {
    window.set_box_text(controls::proxy_input, "a:1\r\nb:2");
    click_at_message(1, [&] { add_to_list(window, every_row); });
    add_to_list(window, every_row);
    // The outer add wrote b:2 into the row its own append returned (index 3).
    EXPECT_EQ(
        rows_of(window),
        (std::vector<Row>{{"1", "a:1", ""}, {"1", "a:1", ""}, {"2", "b:2", ""}, {"2", "b:2", ""}}));
    EXPECT_EQ(caption(), gbk("代理(4)"));
    EXPECT_EQ(window.box_text(controls::proxy_input), "");
}

TEST_F(ListEditing, AClearDuringRemovingDuplicatesEndsItWithoutTouchingMissingRows) {
    add_rows({"x:1", "x:1", "y:2", "y:2", "z:3"});
    click_at_message(2, [&] { clear_list(window); });
    remove_duplicates(window, every_row);
    EXPECT_EQ(window.row_count(), 0u);
    EXPECT_EQ(window.message_boxes(), std::vector<std::string>{gbk("共删除1个重复内容！")});
    EXPECT_EQ(caption(), gbk("代理(0)"));
    EXPECT_EQ(window.missing_rows_touched, 0);
}

TEST_F(ListEditing, RowsAddedDuringRemovingDuplicatesAreExaminedToo) {
    add_rows({"a:1", "a:1", "b:2"});
    click_at_message(1, [&] {
        window.set_box_text(controls::proxy_input, "a:1\r\nc:3");
        add_to_list(window, every_row);
    });
    remove_duplicates(window, every_row);
    EXPECT_EQ(rows_of(window),
              (std::vector<Row>{{"1", "a:1", ""}, {"2", "b:2", ""}, {"3", "c:3", ""}}));
    EXPECT_EQ(window.message_boxes(), std::vector<std::string>{gbk("共删除2个重复内容！")});
}

TEST_F(ListEditing, RenumberingReadsTheRowCountOnce) {
    add_rows({"x:1", "y:2"});
    // Lets through: x, y (the removal loop), then the first renumbered row.
    click_at_message(3, [&] {
        window.set_box_text(controls::proxy_input, "p:3\r\nq:4");
        add_to_list(window, every_row);
    });
    remove_duplicates(window, every_row);
    EXPECT_EQ(numbers_of(window), (std::vector<std::string>{"1", "2", "1", "2"}));
    EXPECT_EQ(caption(), gbk("代理(4)"));
}

TEST_F(ListEditing, WritesToRowsClearedDuringRenumberingChangeNothing) {
    add_rows({"x:1", "y:2", "z:3"});
    click_at_message(4, [&] { clear_list(window); });
    remove_duplicates(window, every_row);
    EXPECT_EQ(window.row_count(), 0u);
    EXPECT_EQ(caption(), gbk("代理(0)"));
}

// --- pacing -------------------------------------------------------------------

TEST(MessagePacer, EveryRowOrOncePerSlice) {
    MemoryWindowPort window;
    std::string box;
    for (int i = 0; i < 1000; ++i)
        box += "a:1\r\n";
    window.set_box_text(controls::proxy_input, box);
    add_to_list(window, Pacing::every_row());
    EXPECT_EQ(window.messages_let_through(), 1000u);

    window.set_box_text(controls::proxy_input, box);
    add_to_list(window, Pacing::slices_of(std::chrono::hours(1)));
    EXPECT_EQ(window.messages_let_through(), 1000u);
    EXPECT_EQ(window.row_count(), 2000u);
}

TEST(MessagePacer, LetsMessagesThroughOnceASliceHasPassed) {
    MemoryWindowPort window;
    MessagePacer pacer(window, Pacing::slices_of(std::chrono::milliseconds(200)));
    pacer.step_done();
    EXPECT_EQ(window.messages_let_through(), 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    pacer.step_done();
    pacer.step_done();
    EXPECT_EQ(window.messages_let_through(), 1u);
}

} // namespace
} // namespace kestrova
