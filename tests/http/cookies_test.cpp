#include "http/cookies.h"
#include "text/codepage.h"

#include <gtest/gtest.h>

namespace kestrova::http {
namespace {

using text::gbk;

struct MergeCase {
    std::string old_cookies;
    std::string new_cookies;
    std::string merged;
    std::string new_after; ///< the caller's new variable afterwards
};

TEST(MergeCookies, FoldsNewPiecesIntoOldOnes) {
    const MergeCase cases[] = {
        {"a=1; b=2", "b=3;c=4", "b=3; c=4; a=1", "b=3;c=4"},
        {"a=1; b=2", "a=deleted", "b=2", "a=deleted"},
        {"a=deleted", "", "", ""},
        {"a=1;a=2", "", "a=1", ""},
        {"", "a=1;a=2", "a=1; a=2", "a=1;a=2"},
        {"", "a=1;a=1", "a=1", "a=1;a=1"},
        {"x = hello world ; y=2", "", "x=helloworld; y=2", ""},
        {"a=1;", "", "a=1", ""},
        {";a=1", "", "; a=1", ""},
        {"", "", "", ""},
        {"", "a=1; b=2", "a=1; b=2", "a=1;b=2"},
        {"A=1", "a=2", "a=2; A=1", "a=2"},
        // Further cases: ideographic spaces go too; a piece without "=" is
        // its own name; a short piece is never a deletion.
        {gbk("a　=　1"), "", "a=1", ""},
        {"secure;a=1", "secure", "secure; a=1", "secure"},
        {"deleted", "", "deleted", ""},
        {"a=1", "b=x=deleted", "a=1", "b=x=deleted"},
    };
    for (const auto& c : cases) {
        std::string old_cookies = c.old_cookies;
        std::string new_cookies = c.new_cookies;
        const std::string result = merge_cookies(old_cookies, new_cookies);
        EXPECT_EQ(old_cookies, c.merged)
            << "old '" << c.old_cookies << "' new '" << c.new_cookies << "'";
        EXPECT_EQ(result, c.merged);
        EXPECT_EQ(new_cookies, c.new_after);
    }
}

TEST(CookieName, IsTheTrimmedTextBeforeTheFirstEqualsSign) {
    EXPECT_EQ(cookie_name(" a = 1"), "a");
    EXPECT_EQ(cookie_name("a=b=c"), "a");
    EXPECT_EQ(cookie_name("HttpOnly"), "HttpOnly");
    EXPECT_EQ(cookie_name("=x"), "");
    EXPECT_EQ(cookie_name(gbk("　名　=值")), gbk("名"));
}

TEST(CookieName, IsLookedUpByExactBytes) {
    const std::vector<std::string> list{"a=1", " b =2"};
    EXPECT_TRUE(has_cookie_name(list, "b"));
    EXPECT_FALSE(has_cookie_name(list, "B"));
    EXPECT_FALSE(has_cookie_name({}, ""));
}

TEST(JoinUnique, KeepsTheFirstOfEqualPiecesInOrder) {
    EXPECT_EQ(join_unique("a; b; a; c; b", "; "), "a; b; c");
    EXPECT_EQ(join_unique("", "; "), "");
    EXPECT_EQ(join_unique("; ; a", "; "), "; a"); // the empty piece is kept once
    EXPECT_EQ(join_unique("a;b;", ";"), "a;b");
    EXPECT_EQ(join_unique("a", "; "), "a");
}

TEST(IndexInList, IsOneBasedAndMinusOneWhenMissing) {
    const std::vector<std::string> list{"a", "b", "a", ""};
    EXPECT_EQ(index_in_list(list, "a"), 1);
    EXPECT_EQ(index_in_list(list, "b"), 2);
    EXPECT_EQ(index_in_list(list, ""), 4);
    EXPECT_EQ(index_in_list(list, "c"), -1);
    EXPECT_EQ(index_in_list({}, "a"), -1);
}

} // namespace
} // namespace kestrova::http
