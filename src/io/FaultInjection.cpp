#include "io/FaultInjection.h"

namespace quarry {

std::atomic<std::uint64_t> FaultInjection::count_{0};
std::atomic<std::uint64_t> FaultInjection::failAt_{0};
std::atomic<int> FaultInjection::errorNumber_{0};
std::atomic<FaultInjection::Hook> FaultInjection::hook_{nullptr};

void FaultInjection::FailAt(std::uint64_t n, int errorNumber) {
  errorNumber_.store(errorNumber, std::memory_order_relaxed);
  failAt_.store(n, std::memory_order_relaxed);
}

void FaultInjection::SetHook(Hook hook) { hook_.store(hook, std::memory_order_relaxed); }

void FaultInjection::ResetCount() { count_.store(0, std::memory_order_relaxed); }

std::uint64_t FaultInjection::Count() { return count_.load(std::memory_order_relaxed); }

void FaultInjection::Clear() {
  FailAt(0, 0);
  SetHook(nullptr);
  ResetCount();
}

int FaultInjection::Check(FileOperation operation) {
  const std::uint64_t number = count_.fetch_add(1, std::memory_order_relaxed) + 1;
  if (Hook hook = hook_.load(std::memory_order_relaxed)) hook(operation, number);
  const std::uint64_t failAt = failAt_.load(std::memory_order_relaxed);
  if (failAt == 0 || failAt != number) return 0;
  failAt_.store(0, std::memory_order_relaxed);
  return errorNumber_.load(std::memory_order_relaxed);
}

}  // namespace quarry
