#include "basMain.h"

#include <gtest/gtest.h>

#include <set>

#include "MessageTables.h"

namespace quorvix {
namespace {

TEST(MessageLookup, NetworkRangeLooksInTheNetworkTableFirst) {
  // Both tables know every boundary code, each in its own words.
  const MessageText network[] = {
      {2099, u"net 2099"}, {2100, u"net 2100"}, {2999, u"net 2999"}, {3000, u"net 3000"}};
  const MessageText system[] = {{2099, u"sys 2099"}, {2100, u"sys 2100"}, {2500, u"sys 2500"},
                                {2999, u"sys 2999"}, {3000, u"sys 3000"}, {5, u"sys 5"}};
  EXPECT_EQ(LookUpMessage(2099, network, system), u"sys 2099");
  EXPECT_EQ(LookUpMessage(2100, network, system), u"net 2100");
  EXPECT_EQ(LookUpMessage(2999, network, system), u"net 2999");
  EXPECT_EQ(LookUpMessage(3000, network, system), u"sys 3000");
  // In the range but missing from the network table: the system's text.
  EXPECT_EQ(LookUpMessage(2500, network, system), u"sys 2500");
  // Outside the range the network table is never used.
  EXPECT_EQ(LookUpMessage(5, network, {}), u"");
  // No table knows the code: the empty text.
  EXPECT_EQ(LookUpMessage(4242, network, system), u"");
  EXPECT_EQ(LookUpMessage(-1, network, system), u"");
  EXPECT_EQ(LookUpMessage(2100, {}, {}), u"");
}

TEST(MessageLookup, OwnTablesCoverTheCommonStatuses) {
  const int32_t common[] = {5,    6,    8,    50,   53,   54,   58,   59,   64,   67,   71,
                            87,   122,  123,  124,  234,  1219, 1326, 1327, 1330, 1331, 1355,
                            1376, 1378, 1387, 1722, 1726, 1792, 2102, 2106, 2114, 2123, 2138,
                            2141, 2184, 2220, 2221, 2223, 2224, 2226, 2351, 2453, 6118};
  for (const int32_t code : common) {
    const std::u16string text = LookUpMessage(code, NetworkMessageTable(), SystemMessageTable());
    EXPECT_FALSE(text.empty()) << code;
    EXPECT_NE(text.back(), u' ') << code;  // no padding
  }
  std::set<int32_t> seen;
  for (const auto& m : NetworkMessageTable()) {
    EXPECT_TRUE(m.code >= 2100 && m.code <= 2999) << m.code;
    EXPECT_TRUE(seen.insert(m.code).second) << "twice: " << m.code;
  }
  seen.clear();
  for (const auto& m : SystemMessageTable()) EXPECT_TRUE(seen.insert(m.code).second) << m.code;
}

#ifndef _WIN32
TEST(MessageLookup, GetNetErrorTextUsesTheOwnTables) {
  EXPECT_EQ(GetNetErrorText(2221), std::u16string(LookUpMessage(2221, NetworkMessageTable(), {})));
  EXPECT_EQ(GetNetErrorText(53), std::u16string(LookUpMessage(53, {}, SystemMessageTable())));
  // A network-range code that only the system's table describes.
  EXPECT_EQ(GetNetErrorText(2250), std::u16string(LookUpMessage(2250, {}, SystemMessageTable())));
  EXPECT_FALSE(GetNetErrorText(2250).empty());
  EXPECT_NE(GetNetErrorText(2220), GetNetErrorText(2221));
  EXPECT_EQ(GetNetErrorText(2998), u"");
  EXPECT_EQ(GetNetErrorText(123456), u"");
}
#endif

}  // namespace
}  // namespace quorvix
