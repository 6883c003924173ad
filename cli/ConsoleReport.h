// The console's report window: it collects the scan's rows for printing.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "ReportWindow.h"

namespace quorvix {

class ConsoleReport : public ReportWindow {
 public:
  // stop: set (by Ctrl+C) when the scan is to stop; may be null.
  explicit ConsoleReport(std::u16string domain, const std::atomic<bool>* stop = nullptr)
      : domain_(std::move(domain)), stop_(stop) {}

  void SetStatusText(const std::u16string& text) override { status_ = text; }
  void ClearRows() override { rows_.clear(); }
  void AppendRow(const ReportRow& row) override { rows_.push_back(row); }
  void SetMousePointer(MousePointer) override {}
  std::u16string DomainText() override { return domain_; }
  void ShowMessage(const std::u16string& text) override { messages_.push_back(text); }
  bool DoEvents() override { return true; }
  bool StopRequested() override { return stop_ != nullptr && stop_->load(); }
  void SetMachineOutcomes(const std::vector<MachineOutcome>& outcomes) override {
    machines_ = outcomes;
  }

  const std::vector<ReportRow>& Rows() const { return rows_; }
  std::vector<ReportRow>& Rows() { return rows_; }
  const std::u16string& Status() const { return status_; }
  const std::vector<std::u16string>& Messages() const { return messages_; }
  const std::vector<MachineOutcome>& Machines() const { return machines_; }

 private:
  std::u16string domain_;
  std::u16string status_;
  std::vector<ReportRow> rows_;
  std::vector<std::u16string> messages_;
  const std::atomic<bool>* stop_;
  std::vector<MachineOutcome> machines_;
};

}  // namespace quorvix
