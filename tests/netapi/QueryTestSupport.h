// Shared by the query-layer tests: a fixture over the simulated provider
// that checks the buffer accounting after every test, and a provider that
// answers enumerations from a script, for servers that misbehave.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "NetApi.h"
#include "SimDomain.h"
#include "SimulatedNetApi.h"

namespace quorvix::test {

class SimTest : public ::testing::Test {
 protected:
  sim::SimulatedNetApi& Use(sim::SimDomain domain) {
    api_ = std::make_unique<sim::SimulatedNetApi>(std::move(domain));
    return *api_;
  }
  sim::SimulatedNetApi& api() { return *api_; }

  // Every buffer handed out was released, and released once.
  void TearDown() override {
    if (!api_) return;
    EXPECT_EQ(api_->OutstandingBuffers(), 0u) << "buffers left unreleased";
    EXPECT_EQ(api_->RefusedFrees(), 0u) << "double or foreign frees";
  }

  std::vector<sim::CallRecord> CallsOf(const std::string& call) const {
    std::vector<sim::CallRecord> out;
    for (auto& c : api_->Calls())
      if (c.call == call) out.push_back(c);
    return out;
  }

 private:
  std::unique_ptr<sim::SimulatedNetApi> api_;
};

// One scripted answer of an enumeration call. Each row is one record whose
// fields are all text (WKSTA_USER_INFO_1, GROUP_INFO_0, GROUP_USERS_INFO_0).
struct Answer {
  NET_API_STATUS status = NERR_Success;
  std::vector<std::vector<std::u16string>> rows;
  DWORD total = 0;
  bool withBuffer = true;  // hand back a buffer (also with a failure status)
  bool readOverride = false;
  DWORD read = 0;  // when readOverride: the count claimed
};

// Records of text fields back to back, then their strings, in one buffer
// allocated by the simulated provider, so its accounting covers it.
inline LPBYTE BuildTextRecords(NetApi& alloc,
                               const std::vector<std::vector<std::u16string>>& rows) {
  std::size_t fields = rows.empty() ? 1 : rows.front().size();
  std::size_t bytes = rows.size() * fields * sizeof(LPWSTR);
  for (auto& row : rows)
    for (auto& s : row) bytes += (s.size() + 1) * sizeof(char16_t);
  LPVOID raw = nullptr;
  if (alloc.NetApiBufferAllocate(static_cast<DWORD>(bytes == 0 ? 1 : bytes), &raw) != 0)
    return nullptr;
  auto* records = static_cast<LPWSTR*>(raw);
  auto* text = reinterpret_cast<char16_t*>(records + rows.size() * fields);
  for (std::size_t r = 0; r < rows.size(); ++r) {
    for (std::size_t f = 0; f < fields; ++f) {
      const std::u16string& s = rows[r][f];
      records[r * fields + f] = text;
      std::memcpy(text, s.c_str(), (s.size() + 1) * sizeof(char16_t));
      text += s.size() + 1;
    }
  }
  return static_cast<LPBYTE>(raw);
}

// Passes every call to the simulated provider, except the enumerations for
// which `answer` is set: those are answered from it (call index from 0).
class ScriptedNetApi : public NetApi {
 public:
  explicit ScriptedNetApi(sim::SimulatedNetApi& inner) : inner_(inner) {}

  std::function<Answer(int)> answer;
  std::function<void(int)> beforeCall;  // runs before each enumeration call (index from 0)
  DWORD serverEnumLength = 0;           // when set, replaces NetServerEnum's preferred length
  bool resumeStays = false;             // the resume handle is handed back as it came
  int enumCalls = 0;
  std::vector<DWORD> prefmaxlens;
  std::vector<uint64_t> resumes;

  NET_API_STATUS NetServerEnum(LPCWSTR s, DWORD level, LPBYTE* buf, DWORD pref, LPDWORD read,
                               LPDWORD total, DWORD type, LPCWSTR domain, LPDWORD resume) override {
    prefmaxlens.push_back(pref);
    return inner_.NetServerEnum(s, level, buf, serverEnumLength ? serverEnumLength : pref, read,
                                total, type, domain, resume);
  }
  NET_API_STATUS NetWkstaGetInfo(LPCWSTR s, DWORD level, LPBYTE* buf) override {
    return inner_.NetWkstaGetInfo(s, level, buf);
  }
  NET_API_STATUS NetServerGetInfo(LPCWSTR s, DWORD level, LPBYTE* buf) override {
    return inner_.NetServerGetInfo(s, level, buf);
  }
  NET_API_STATUS NetGetDCName(LPCWSTR s, LPCWSTR d, LPBYTE* buf) override {
    return inner_.NetGetDCName(s, d, buf);
  }
  NET_API_STATUS NetWkstaUserEnum(LPCWSTR s, DWORD level, LPBYTE* buf, DWORD pref, LPDWORD read,
                                  LPDWORD total, LPDWORD resume) override {
    Before(pref, resume ? *resume : 0);
    if (!answer) return inner_.NetWkstaUserEnum(s, level, buf, pref, read, total, resume);
    if (resume && !resumeStays) ++*resume;
    return Serve(buf, read, total);
  }
  NET_API_STATUS NetUserGetInfo(LPCWSTR s, LPCWSTR u, DWORD level, LPBYTE* buf) override {
    return inner_.NetUserGetInfo(s, u, level, buf);
  }
  NET_API_STATUS NetGroupEnum(LPCWSTR s, DWORD level, LPBYTE* buf, DWORD pref, LPDWORD read,
                              LPDWORD total, PDWORD_PTR resume) override {
    Before(pref, resume ? *resume : 0);
    if (!answer) return inner_.NetGroupEnum(s, level, buf, pref, read, total, resume);
    if (resume && !resumeStays) ++*resume;
    return Serve(buf, read, total);
  }
  NET_API_STATUS NetUserGetGroups(LPCWSTR s, LPCWSTR u, DWORD level, LPBYTE* buf, DWORD pref,
                                  LPDWORD read, LPDWORD total) override {
    Before(pref, 0);
    if (!answer) return inner_.NetUserGetGroups(s, u, level, buf, pref, read, total);
    return Serve(buf, read, total);
  }
  NET_API_STATUS NetGroupGetInfo(LPCWSTR s, LPCWSTR g, DWORD level, LPBYTE* buf) override {
    return inner_.NetGroupGetInfo(s, g, level, buf);
  }
  NET_API_STATUS NetLocalGroupAddMembers(LPCWSTR s, LPCWSTR g, DWORD level, LPBYTE buf,
                                         DWORD n) override {
    return inner_.NetLocalGroupAddMembers(s, g, level, buf, n);
  }
  NET_API_STATUS NetApiBufferAllocate(DWORD n, LPVOID* buf) override {
    return inner_.NetApiBufferAllocate(n, buf);
  }
  NET_API_STATUS NetApiBufferFree(LPVOID buf) override { return inner_.NetApiBufferFree(buf); }

 private:
  void Before(DWORD pref, uint64_t resume) {
    prefmaxlens.push_back(pref);
    resumes.push_back(resume);
    if (beforeCall) beforeCall(static_cast<int>(prefmaxlens.size()) - 1);
  }
  NET_API_STATUS Serve(LPBYTE* buf, LPDWORD read, LPDWORD total) {
    const Answer a = answer(enumCalls++);
    *buf = a.withBuffer ? BuildTextRecords(inner_, a.rows) : nullptr;
    *read = a.readOverride ? a.read : static_cast<DWORD>(a.rows.size());
    *total = a.total;
    return a.status;
  }

  sim::SimulatedNetApi& inner_;
};

}  // namespace quorvix::test
