#include "verify_fixture.h"

namespace kestrova::verify_test {
namespace {

TEST_F(VerifyFixture, OneRowRunMarksLogsPurgesAndEnds) {
    std::string good = add_good_proxy();
    add_rows({good});
    make_verifier();
    verifier->click_start_button();
    EXPECT_EQ(caption(controls::start_button), gbk("停止验证"));
    ASSERT_TRUE(wait_for_runs_finished(1));

    EXPECT_EQ(window->read_cell(0, column::status), gbk("可以用"));
    EXPECT_EQ(log_lines(),
              (std::vector<std::string>{
                  gbk("[2026-01-02 03:04:05]IP代理 [") + good + gbk("] 可以用"),
                  gbk("[2026-01-02 03:04:05] - 代理验证完毕！有效代理：1 个 失效代理：0 个"),
                  gbk("[2026-01-02 03:04:05] - 失效代理已清除！共清除 0 个 失效代理"),
              }));
    EXPECT_EQ(caption(controls::start_button), gbk("开始验证"));
    EXPECT_EQ(caption(controls::proxy_frame), gbk("代理(1)"));
    EXPECT_EQ(window->progress_maximum(controls::progress_bar), 1);
    EXPECT_EQ(window->progress_position(controls::progress_bar), 1);
    EXPECT_EQ(verifier->usable_count(), 0);
    EXPECT_EQ(verifier->unusable_count(), 0);
}

TEST_F(VerifyFixture, VerdictsOnGoodAndHostileProxies) {
    std::string marker_gbk_page = "<html>" + gbk("百度一下") + "</html>";
    // The marker's GBK bytes shifted by one: they begin on a second byte.
    std::string shifted = "\x81" + gbk("百度一下");
    struct Case {
        const char* name;
        std::string address;
        bool usable;
    };
    std::vector<Case> cases = {
        {"good", add_good_proxy(), true},
        {"good slow", add_good_proxy(300ms), true},
        {"no marker", add_proxy(proxy_answering(Reply::text("<html>hello</html>"))), false},
        {"gbk page", add_proxy(proxy_answering(Reply::text(marker_gbk_page))), false},
        {"marker on second byte", add_proxy(proxy_answering(Reply::text(shifted))), false},
        {"nul before marker",
         add_proxy(proxy_answering(Reply::text(std::string("ok\0", 3) + probe_page()))), false},
        {"403 with marker", add_proxy(proxy_answering(Reply::text(probe_page(), 403))), true},
        {"empty 200", add_proxy(proxy_answering(Reply::text(""))), false},
        {"never answers", add_proxy(proxy_answering(Reply::hang())), false},
        {"drips", add_proxy(proxy_answering(Reply::drip(200ms))), false},
        {"garbage", add_proxy(proxy_answering(Reply::garbage())), false},
        {"endless", add_proxy(proxy_answering(Reply::endless("no marker here "))), false},
        {"closes", add_proxy(proxy_answering(Reply::close())), false},
        {"refused", "127.0.0.1:" + std::to_string(test_support::unused_port()), false},
        {"not an address", "not a proxy", false},
        {"empty", "", false},
    };
    for (const Case& c : cases)
        add_rows({c.address});
    window->set_box_text(controls::timeout_box, "1000");
    make_verifier();
    auto start = std::chrono::steady_clock::now();
    verifier->click_start_button();
    ASSERT_TRUE(wait_for_runs_finished(1, 30s));
    // Every request is bounded: 1 s per phase, 4 s in all.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 12s);

    std::map<std::string, bool> verdicts;
    for (const ProbeResult& result : results())
        verdicts[result.address] = result.usable;
    for (const Case& c : cases)
        EXPECT_EQ(verdicts.at(c.address), c.usable) << c.name;

    // The unusable rows are gone, the usable ones renumbered in order.
    std::vector<std::string> kept;
    for (const Case& c : cases)
        if (c.usable)
            kept.push_back(c.address);
    EXPECT_EQ(column_texts(column::address), kept);
    EXPECT_EQ(column_texts(column::number), (std::vector<std::string>{"1", "2", "3"}));
    std::vector<std::string> lines = log_lines();
    EXPECT_EQ(lines[lines.size() - 2],
              gbk("[2026-01-02 03:04:05] - 代理验证完毕！有效代理：3 个 失效代理：13 个"));
    EXPECT_EQ(lines.back(), gbk("[2026-01-02 03:04:05] - 失效代理已清除！共清除 13 个 失效代理"));
    EXPECT_EQ(caption(controls::proxy_frame), gbk("代理(3)"));
}

TEST_F(VerifyFixture, EmptyAddressSendsNoRequest) {
    add_rows({""});
    make_verifier();
    verifier->click_start_button();
    ASSERT_TRUE(wait_for_runs_finished(1));
    ASSERT_EQ(results().size(), 1u);
    EXPECT_FALSE(results()[0].requested);
    EXPECT_EQ(loop.connections_accepted(), 0u);
    EXPECT_EQ(log_lines()[0], gbk("[2026-01-02 03:04:05]IP代理 [] 不可用"));
}

TEST_F(VerifyFixture, EmptyListEndsAtOnce) {
    make_verifier();
    verifier->click_start_button();
    ASSERT_TRUE(wait_for_runs_finished(1, 5s));
    EXPECT_EQ(log_lines(),
              (std::vector<std::string>{
                  gbk("[2026-01-02 03:04:05] - 代理验证完毕！有效代理：0 个 失效代理：0 个"),
                  gbk("[2026-01-02 03:04:05] - 失效代理已清除！共清除 0 个 失效代理"),
              }));
    EXPECT_EQ(caption(controls::start_button), gbk("开始验证"));
    EXPECT_EQ(caption(controls::proxy_frame), gbk("代理(0)"));
}

TEST_F(VerifyFixture, LargeUtf8PageWithTheMarkerAtItsEnd) {
    // Far beyond the request's default body cap: the probe keeps no body.
    std::string page(64 << 20, 'a');
    page += probe_page();
    add_rows({add_proxy(proxy_answering(Reply::text(page)))});
    window->set_box_text(controls::timeout_box, "10000");
    make_verifier();
    verifier->click_start_button();
    ASSERT_TRUE(wait_for_runs_finished(1, 60s));
    EXPECT_TRUE(results().at(0).usable);
}

} // namespace
} // namespace kestrova::verify_test
