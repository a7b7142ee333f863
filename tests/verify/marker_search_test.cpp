#include "text/codepage.h"
#include "text/text.h"
#include "verify/marker_search.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace kestrova {
namespace {

const std::string marker = "百度一下";

// The whole-body verdict: convert the page to code page 936 and search at
// character boundaries. The streaming search must agree with it.
bool whole_body_verdict(const std::string& page) {
    return text::contains(text::utf8_to_ansi(text::up_to_nul(page)), text::gbk(marker));
}

bool streamed_verdict(const std::string& page, std::size_t chunk) {
    MarkerSearch search(marker);
    for (std::size_t at = 0; at < page.size(); at += chunk)
        if (!search.feed(std::string_view(page).substr(at, chunk)))
            break;
    return search.found();
}

TEST(MarkerSearch, AgreesWithTheWholeBodyVerdict) {
    const std::vector<std::string> pages = {
        "<b>" + marker + "</b>",
        marker,
        "",
        "no marker here",
        std::string("before\0", 7) + marker,
        marker + std::string("\0after", 6),
        text::gbk(marker),                      // a page in code page 936
        "\xE7" + marker,                        // a stray lead byte before it
        "\xE7\x99" + marker.substr(0, 5) + "x", // cut off, then garbage
        std::string(100000, 'x') + marker,
        "百度一" + std::string(10, 'x') + "下",
    };
    for (const std::string& page : pages)
        for (std::size_t chunk : {1u, 2u, 5u, 11u, 12u, 13u, 4096u})
            EXPECT_EQ(streamed_verdict(page, chunk), whole_body_verdict(page))
                << "chunk " << chunk << " page of " << page.size() << " bytes";
}

TEST(MarkerSearch, StopsOnceTheAnswerIsKnown) {
    MarkerSearch found(marker);
    EXPECT_TRUE(found.feed("abc百度"));
    EXPECT_FALSE(found.feed("一下 and more"));
    EXPECT_TRUE(found.found());

    MarkerSearch ended(marker);
    EXPECT_FALSE(ended.feed(std::string("abc\0", 4) + marker));
    EXPECT_FALSE(ended.found());
    EXPECT_FALSE(ended.feed(marker));
    EXPECT_FALSE(ended.found());
}

} // namespace
} // namespace kestrova
