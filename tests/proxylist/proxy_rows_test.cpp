// The row storage behind both windows (slots, tombstones and the index tree)
// against a plain vector of rows, over long random runs of every operation.
#include "shell/proxy_rows.h"

#include <chrono>
#include <gtest/gtest.h>
#include <random>

namespace kestrova {
namespace {

struct PlainRow {
    RowId id;
    std::string address;
};

class RowsAgainstAVector {
public:
    explicit RowsAgainstAVector(unsigned seed) : random_(seed) {}

    void append() {
        std::size_t index = rows_.append();
        ASSERT_EQ(index, plain_.size());
        plain_.push_back({*rows_.id_of(index), "r" + std::to_string(next_++)});
        rows_.write(index, column::address, plain_.back().address);
    }
    void remove_at(std::size_t index) {
        ASSERT_TRUE(rows_.remove(index));
        plain_.erase(plain_.begin() + static_cast<std::ptrdiff_t>(index));
    }
    void remove_some() { remove_at(pick()); }
    void clear() {
        rows_.clear();
        plain_.clear();
    }
    std::size_t pick() {
        return std::uniform_int_distribution<std::size_t>(0, plain_.size() - 1)(random_);
    }
    std::size_t size() const { return plain_.size(); }

    void check_one() {
        if (plain_.empty())
            return;
        std::size_t index = pick();
        ASSERT_EQ(rows_.id_of(index), plain_[index].id);
        ASSERT_EQ(rows_.read(index, column::address), plain_[index].address);
        ASSERT_EQ(rows_.index_of(plain_[index].id), index);
        ASSERT_EQ(rows_.count_before(plain_[index].id), index);
    }
    void check_all() {
        ASSERT_EQ(rows_.size(), plain_.size());
        for (std::size_t index = 0; index < plain_.size(); ++index) {
            ASSERT_EQ(rows_.id_of(index), plain_[index].id) << index;
            ASSERT_EQ(rows_.read(index, column::address), plain_[index].address);
        }
        for (std::size_t index = plain_.size(); index-- > 0;)
            ASSERT_EQ(rows_.index_of(plain_[index].id), index);
        ASSERT_FALSE(rows_.id_of(plain_.size()).has_value());
        ASSERT_EQ(rows_.read(plain_.size(), column::address), "");
        ASSERT_FALSE(rows_.write(plain_.size(), column::address, "x"));
        ASSERT_FALSE(rows_.remove(plain_.size()));
    }
    bool removed_id_is_gone(RowId id) { return !rows_.index_of(id).has_value(); }

    ProxyRows rows_;
    std::vector<PlainRow> plain_;

private:
    std::mt19937 random_;
    unsigned next_ = 0;
};

// Index <-> slot lookups, with kills anywhere (also before the bookmark the
// last lookup left), against the live slots listed in order.
TEST(LiveSlots, MatchesAListOfLiveSlots) {
    LiveSlots slots;
    std::vector<std::size_t> live; // live slot numbers, ascending
    std::mt19937 random(3);
    for (int step = 0; step < 50'000; ++step) {
        unsigned roll = random() % 10;
        if (roll < 5 || live.empty()) {
            live.push_back(slots.slot_count());
            slots.push_live();
        } else if (roll < 8) {
            std::size_t index = random() % live.size();
            slots.kill(live[index]);
            live.erase(live.begin() + static_cast<std::ptrdiff_t>(index));
        } else if (step % 97 == 0) {
            slots.clear();
            live.clear();
        }
        if (live.empty())
            continue;
        // A few neighbouring lookups, as a walk through the list makes them;
        // the next kill may land before the bookmark they leave.
        std::size_t index = random() % live.size();
        for (std::size_t at = index; at < live.size() && at < index + 3; ++at) {
            ASSERT_EQ(slots.slot_at(at), live[at]) << step;
            ASSERT_TRUE(slots.is_live(live[at]));
        }
        ASSERT_EQ(slots.live_count(), live.size());
        if (step % 100 == 0) {
            ASSERT_EQ(slots.live_before(live[index]), index);
            ASSERT_EQ(slots.live_before(slots.slot_count()), live.size());
        }
    }
}

TEST(ProxyRows, MatchesAVectorOverRandomOperations) {
    for (unsigned seed = 1; seed <= 4; ++seed) {
        RowsAgainstAVector rows(seed);
        std::mt19937 random(seed * 7919);
        for (int step = 0; step < 30'000; ++step) {
            unsigned roll = random() % 100;
            if (roll < 45 || rows.size() == 0)
                rows.append();
            else if (roll < 85)
                rows.remove_some();
            else if (roll == 85 && step % 7 == 0)
                rows.clear();
            rows.check_one();
            if (step % 1000 == 0)
                rows.check_all();
        }
        rows.check_all();
    }
}

TEST(ProxyRows, RemovedRowsAreGoneAndIdsAreNeverReused) {
    RowsAgainstAVector rows(11);
    for (int i = 0; i < 5000; ++i)
        rows.append();
    std::vector<RowId> removed;
    // Every other row, walking forward as removing duplicates does; the slots
    // get packed on the way.
    for (std::size_t index = 0; index < rows.size(); ++index) {
        removed.push_back(rows.plain_[index].id);
        rows.remove_at(index);
    }
    rows.check_all();
    for (RowId id : removed)
        EXPECT_TRUE(rows.removed_id_is_gone(id));
    RowId last = rows.plain_.back().id;
    rows.clear();
    rows.append();
    EXPECT_GT(rows.plain_.back().id, last);
    rows.check_all();
}

TEST(ProxyRows, RemovingEveryOtherOfAMillionRowsTakesLinearTime) {
    ProxyRows rows;
    for (int i = 0; i < 1'000'000; ++i)
        rows.write(rows.append(), column::address, std::to_string(i));
    auto start = std::chrono::steady_clock::now();
    for (std::size_t index = 0; index + 1 < rows.size(); ++index)
        rows.remove(index + 1);
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_EQ(rows.size(), 500'000u);
    EXPECT_EQ(rows.read(0, column::address), "0");
    EXPECT_EQ(rows.read(499'999, column::address), "999998");
    // Shifting the rows behind every removal would take minutes.
    EXPECT_LT(seconds, 10.0);
}

} // namespace
} // namespace kestrova
