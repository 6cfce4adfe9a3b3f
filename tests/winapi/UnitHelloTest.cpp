#include "winapi/posix/UnitHello.h"

#include <gtest/gtest.h>

using winapi::posix::ParseUnitHello;

namespace {

const std::string Good = "vid=0x1209\npid=0x0043\nversion=0x0100\nin=1025\nout=65\naccess=rw\ninstance=77\n";

TEST(UnitHello, WellFormedHelloGivesEveryField)
{
    std::string why;
    const auto id = ParseUnitHello(Good + "colour=blue\nproduct=Quill\nmark=x", why);
    ASSERT_TRUE(id) << why;
    EXPECT_EQ(id->VendorId, 0x1209);
    EXPECT_EQ(id->ProductId, 0x0043);
    EXPECT_EQ(id->VersionNumber, 0x0100);
    EXPECT_EQ(id->InputLength, 1025);
    EXPECT_EQ(id->OutputLength, 65);
    EXPECT_FALSE(id->QueryOnly);
    EXPECT_EQ(id->Instance, 77u);
    // The product runs to the end of the message, line breaks and all.
    EXPECT_EQ(id->Product, "Quill\nmark=x");

    const auto query =
        ParseUnitHello("vid=4617\npid=0\nversion=0\nin=0\nout=0\naccess=query\ninstance=4294967295\nproduct=", why);
    ASSERT_TRUE(query) << why;
    EXPECT_TRUE(query->QueryOnly);
    EXPECT_EQ(query->VendorId, 4617);
    EXPECT_EQ(query->Instance, 4294967295u);
    EXPECT_EQ(query->Product, "");
}

TEST(UnitHello, MalformedHellosAreRefusedWithAReason)
{
    const std::string cases[] = {
        "",
        "product=x",                                     // nothing before the product
        Good,                                            // no product
        "vid=0x1209\npid=0x0043\nproduct=x",             // keys missing
        "vid=0x10000\n" + Good.substr(11) + "product=x", // vendor out of range
        "vid=12ab\n" + Good.substr(11) + "product=x",    // not a number
        Good.substr(0, Good.find("access")) + "access=readwrite\ninstance=1\nproduct=x",
        Good + "in=-1\nproduct=x",    // negative length
        Good + "in=70000\nproduct=x", // beyond 16 bits
        Good + "garbage\nproduct=x",  // a line without '='
        Good.substr(0, Good.find("instance")) + "instance=4294967296\nproduct=x",
    };
    for (const auto& hello : cases) {
        std::string why;
        EXPECT_FALSE(ParseUnitHello(hello, why)) << hello;
        EXPECT_FALSE(why.empty()) << hello;
    }
}

} // namespace
