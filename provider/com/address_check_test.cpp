// SPDX-License-Identifier: MIT
#include "provider/com/address_check.h"

#include <gtest/gtest.h>

#include <string>

namespace mb::provider {
namespace {

TEST(AddressCheck, AcceptsAddrSpecs) {
    for (const char* ok : {"ann@example.org", "a.b-c+tag@sub.example.org", "x!#$%&'*/=?^_`{|}~@h",
                           "\"john doe\"@example.org", "\"a\\\"b@c\"@example.org",
                           "user@[192.0.2.1]", "user@[IPv6:2001:db8::1]",
                           "j\xC3\xB6rg@b\xC3\xBC" "cher.example", "ann@localhost"}) {
        EXPECT_EQ(checkAddress(ok), AddressProblem::None) << ok;
    }
}

TEST(AddressCheck, RefusesLineBreaksAndControlCharacters) {
    for (const std::string& bad :
         {std::string("mal@example.org\nEvil <evil@example.net>"), std::string("mal@example.org\r"),
          std::string("\"a\rb\"@example.org"), std::string("\"a\nb\"@example.org"),
          std::string("a\tb@example.org"), std::string("ann@exa\x7Fmple.org"),
          std::string("ann\xC2\x85@example.org"),            // U+0085, NEL (C1)
          std::string("ann@example.org\xE2\x80\xA8x"),       // U+2028
          std::string("ann\0@example.org", 16)}) {
        EXPECT_EQ(checkAddress(bad), AddressProblem::ControlCharacter) << printableAddress(bad);
    }
    EXPECT_EQ(checkAddress("ann\xFF@example.org"), AddressProblem::NotUtf8);
    EXPECT_EQ(checkAddress("ann\xC0\xAF@example.org"), AddressProblem::NotUtf8);  // overlong
}

TEST(AddressCheck, RefusesWhatIsNoAddrSpec) {
    for (const char* bad : {"", "ann", "@example.org", "ann@", "a..b@example.org", ".a@example.org",
                            "a.@example.org", "ann@example..org", "a b@example.org",
                            "Evil <evil@example.net>", "a@b@c", "a,b@example.org",
                            "\"unterminated@example.org", "\"a\\\"@example.org", "ann@[a[b]",
                            "ann@[a\\]]", "ann@exa mple.org", "<ann@example.org>"}) {
        EXPECT_EQ(checkAddress(bad), AddressProblem::Malformed) << bad;
    }
}

TEST(AddressCheck, LimitsLengthsAsSmtpDoes) {
    const std::string local64(64, 'l');
    EXPECT_EQ(checkAddress(local64 + "@example.org"), AddressProblem::None);
    EXPECT_EQ(checkAddress(local64 + "l@example.org"), AddressProblem::TooLong);
    // The path is "<" address ">": 254 octets of address fit, 255 do not.
    const std::string domain254 = "@" + std::string(253 - 10, 'd') + ".example";
    std::string fits = "a" + domain254;
    fits.resize(254, 'e');
    EXPECT_EQ(fits.size(), 254u);
    EXPECT_EQ(checkAddress(fits), AddressProblem::None);
    EXPECT_EQ(checkAddress(fits + "e"), AddressProblem::TooLong);
    EXPECT_EQ(checkAddress(std::string(3000, 'a') + "@example.org"), AddressProblem::TooLong);
    EXPECT_EQ(checkAddress("a@" + std::string(200000, 'b')), AddressProblem::TooLong);
}

TEST(AddressCheck, LineTextAllowsBlanksButNoBreaks) {
    EXPECT_EQ(checkLineText("Ann Example, \xC3\x84rzte"), AddressProblem::None);
    EXPECT_EQ(checkLineText("Ann\r\nBcc: x"), AddressProblem::ControlCharacter);
    EXPECT_EQ(checkLineText("\xC2\x9B"), AddressProblem::ControlCharacter);  // C1 CSI
}

TEST(AddressCheck, SingleLineBlanksControlsAndKeepsTheRest) {
    EXPECT_EQ(singleLine("Xavier\nEvil <e@x>\r\xC2\x85\xC3\xA4\xE2\x80\xA8!"),
              "Xavier Evil <e@x>  \xC3\xA4 !");
    EXPECT_EQ(singleLine("plain"), "plain");
}

TEST(AddressCheck, PrintableFormShowsControlsAndShortensLongValues) {
    EXPECT_EQ(printableAddress("a\nb"), "a\\x0Ab");
    const std::string shown = printableAddress(std::string(1000, 'x'));
    EXPECT_LT(shown.size(), 120u);
    EXPECT_NE(shown.find("1000 bytes"), std::string::npos);
}

}  // namespace
}  // namespace mb::provider
