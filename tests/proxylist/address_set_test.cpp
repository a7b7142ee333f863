// The set behind remove_duplicates against the standard one: growing, long
// addresses that need blocks of their own, the empty address.
#include "proxylist/address_set.h"

#include <gtest/gtest.h>
#include <random>
#include <string>
#include <unordered_set>

namespace kestrova {
namespace {

TEST(AddressSet, AgreesWithAStandardSet) {
    for (std::size_t expected : {std::size_t{0}, std::size_t{100'000}}) {
        AddressSet set(expected);
        std::unordered_set<std::string> reference;
        std::mt19937 random(7);
        for (int i = 0; i < 200'000; ++i) {
            std::string address = "10.0." + std::to_string(random() % 300) + "." +
                                  std::to_string(random() % 300) + ":80";
            if (i % 5000 == 0)
                address = std::string(random() % 3 == 0 ? 3 << 20 : 0, 'x');
            ASSERT_EQ(set.insert(address), reference.insert(address).second) << i;
        }
        EXPECT_EQ(set.size(), reference.size());
    }
}

TEST(AddressSet, ComparesWholeAddressesByteForByte) {
    AddressSet set;
    const std::string_view addresses[] = {"1.1.1.1:8080",
                                          "1.1.1.1:80",
                                          "1.1.1.1:80 ",
                                          "A:1",
                                          "a:1",
                                          "",
                                          std::string_view("a\0b", 3),
                                          std::string_view("a\0c", 3)};
    for (std::string_view address : addresses)
        EXPECT_TRUE(set.insert(address)) << address;
    EXPECT_FALSE(set.insert("1.1.1.1:80"));
    EXPECT_FALSE(set.insert(""));
    EXPECT_FALSE(set.insert(std::string_view("a\0c", 3)));
}

} // namespace
} // namespace kestrova
