#include "MessageTables.h"

#include <algorithm>

namespace quorvix {

namespace {

// Our own wording, one plain sentence each, ordered by code.
constexpr MessageText kSystem[] = {
    {0, u"The request completed without error."},
    {5, u"Access was refused: the account lacks the rights this request needs."},
    {6, u"The request named a handle that is not open or not valid."},
    {8, u"There is not enough memory left to carry out the request."},
    {50, u"The request is of a kind that is not supported here."},
    {53, u"No machine answers at this network path; check the name and the network."},
    {54, u"The network is too busy to take the request now; try again later."},
    {58, u"The server's answer could not be used for this request."},
    {59, u"The network failed in an unexpected way."},
    {64, u"The connection to the network name was lost."},
    {67, u"No share or service of that network name exists."},
    {71, u"The remote computer takes no further connections at present."},
    {87, u"A value given with the request is not valid."},
    {122, u"The data area handed to the call is too small for the answer."},
    {123, u"A name in the request is not written in a valid form."},
    {124, u"The call does not offer the information level that was asked for."},
    {234, u"More entries are waiting to be read."},
    {1219, u"A connection to this server already exists under other credentials."},
    {1231,
     u"The network cannot be reached from this machine; check that a network interface is up "
     u"and has an address."},
    {1311, u"No logon server is available to check the logon."},
    {1317, u"The account named does not exist."},
    {1326, u"The user name or the password was not accepted."},
    {1327, u"A restriction on the account prevents this logon."},
    {1330, u"The account's password has expired."},
    {1331, u"The account is disabled."},
    {1355, u"The domain does not exist or cannot be reached."},
    {1376, u"The local group does not exist."},
    {1378, u"The account is already a member of the local group."},
    {1387, u"The account to add to the local group does not exist."},
    {1722, u"The server's remote procedure call service cannot be reached."},
    {1726, u"A remote procedure call did not complete."},
    {1792, u"The network logon service is not running."},
    {2202, u"The user name is not written in a valid form."},
    {2250, u"There is no such network connection."},
    {6118, u"The list of servers of this workgroup cannot be had at present."},
};

constexpr MessageText kNetwork[] = {
    {2102, u"The workstation's network driver is not present."},
    {2103, u"The server cannot be found on the network."},
    {2106, u"Only a server can carry out this request, not a workstation."},
    {2114, u"The server service is not running on that machine."},
    {2123, u"The buffer for the answer is too small."},
    {2138, u"The workstation service is not running on that machine."},
    {2141, u"The server is not set up to handle transactions."},
    {2184, u"The service has not been started."},
    {2220, u"The group does not exist."},
    {2221, u"The user does not exist."},
    {2223, u"A group of this name exists already."},
    {2224, u"An account of this name exists already."},
    {2226, u"Only the domain's primary controller can carry out this request."},
    {2351, u"The computer name is not valid."},
    {2453, u"No domain controller of this domain could be found."},
};

std::u16string Find(std::span<const MessageText> table, int32_t code) {
  const auto it = std::find_if(table.begin(), table.end(),
                               [code](const MessageText& m) { return m.code == code; });
  if (it == table.end() || it->text == nullptr) return {};
  return it->text;
}

}  // namespace

std::span<const MessageText> SystemMessageTable() {
  return kSystem;
}
std::span<const MessageText> NetworkMessageTable() {
  return kNetwork;
}

std::u16string LookUpMessage(int32_t code, std::span<const MessageText> network,
                             std::span<const MessageText> system) {
  constexpr int32_t kNetworkFirst = 2100;
  constexpr int32_t kNetworkLast = 2999;
  if (code >= kNetworkFirst && code <= kNetworkLast) {
    std::u16string text = Find(network, code);
    if (!text.empty()) return text;
  }
  return Find(system, code);
}

}  // namespace quorvix
