#include "shell/activity_log.h"
#include "shell/control_names.h"
#include "shell/memory_window_port.h"
#include "shell/timestamp.h"
#include "text/codepage.h"

#include <gtest/gtest.h>

namespace kestrova {
namespace {

TEST(Timestamp, FormatsEveryFieldButTheYearInTwoDigits) {
    struct Case {
        LocalTime time;
        const char* expected;
    } cases[] = {
        {{2015, 7, 5, 9, 3, 7}, "[2015-07-05 09:03:07]"},
        {{2027, 1, 1, 0, 0, 0}, "[2027-01-01 00:00:00]"},
        {{2026, 12, 31, 23, 59, 59}, "[2026-12-31 23:59:59]"},
        {{999, 10, 10, 10, 10, 10}, "[999-10-10 10:10:10]"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(format_timestamp(c.time), c.expected);
}

TEST(Timestamp, ReadsTheReplaceableClockOnce) {
    int readings = 0;
    set_clock([&] {
        ++readings;
        return LocalTime{2026, 1, 1, 0, 0, 0};
    });
    EXPECT_EQ(timestamp_text(), "[2026-01-01 00:00:00]");
    EXPECT_EQ(readings, 1);
    set_clock(nullptr);

    // The real clock gives a well-formed current time.
    std::string now = timestamp_text();
    ASSERT_EQ(now.size(), 21u);
    EXPECT_EQ(now.front(), '[');
    EXPECT_EQ(now.back(), ']');
    EXPECT_EQ(now[11], ' ');
}

TEST(ActivityLog, AppendsTimestampMessageAndCrLfAtTheEnd) {
    set_clock([] { return LocalTime{2015, 7, 5, 9, 3, 7}; });
    auto window = MemoryWindowPort::main_window();
    window->set_box_text(controls::activity_log, "typed by the user");
    log_line(*window, text::gbk("IP代理 [1.2.3.4:80] 可以用"));
    log_line(*window, "two\r\nlines");
    set_clock(nullptr);
    EXPECT_EQ(window->box_text(controls::activity_log),
              "typed by the user" + text::gbk("[2015-07-05 09:03:07]IP代理 [1.2.3.4:80] 可以用") +
                  "\r\n[2015-07-05 09:03:07]two\r\nlines\r\n");
}

} // namespace
} // namespace kestrova
