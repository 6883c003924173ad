// The account of the machines a scan could not fully ask, as both windows show it.
#include "WindowTexts.h"

#include <gtest/gtest.h>

namespace quorvix {
namespace {

TEST(WindowTexts, NotFullyAskedListsOnlyIncompleteMachinesOneCleanLineEach) {
  std::vector<MachineOutcome> outcomes(4);
  outcomes[0] = {u"PC001", u"Wks", 3, MachineState::Listed, 0, u""};
  outcomes[1] = {u"PC002", u"", 0, MachineState::NotAsked, 53, u"The network path\nwas not found."};
  outcomes[2] = {u"PC\x1b[31m3", u"Wks/Srv", 2, MachineState::PartlyListed, 5, u""};
  outcomes[3] = {u"PC004", u"Wks", 0, MachineState::TimedOut, 0, u""};
  EXPECT_EQ(CountNotFullyAsked(outcomes), 3u);
  EXPECT_EQ(NotFullyAskedText(outcomes),
            u"PC002\t\tnot asked\t0 rows\tstatus 53: The network path was not found.\r\n"
            u"PC [31m3\tWks/Srv\tpartly listed\t2 rows\tstatus 5\r\n"
            u"PC004\tWks\ttimed out\t0 rows\t\r\n");
  EXPECT_EQ(NotFullyAskedText({outcomes[0]}), u"");
  EXPECT_EQ(MachineStateText(MachineState::Stopped), u"stopped");
}

}  // namespace
}  // namespace quorvix
