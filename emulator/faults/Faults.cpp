#include "emulator/faults/Faults.h"

#include <array>
#include <utility>

namespace ocs {
namespace {

constexpr std::array<std::pair<FaultKind, const char*>, 16> kNames = {{
    {FaultKind::kStatus, "status"},
    {FaultKind::kNotEnoughSpace, "not_enough_space"},
    {FaultKind::kHugeBody, "huge_body"},
    {FaultKind::kReset, "reset"},
    {FaultKind::kBadLocation, "bad_location"},
    {FaultKind::kLoopLocation, "loop_location"},
    {FaultKind::kDelay, "delay"},
    {FaultKind::kStall, "stall"},
    {FaultKind::kResetMidBody, "reset_mid_body"},
    {FaultKind::kShortBody, "short_body"},
    {FaultKind::kChunked, "chunked"},
    {FaultKind::kMalformed, "malformed"},
    {FaultKind::kEmpty, "empty"},
    {FaultKind::kMissingHeader, "missing_header"},
    {FaultKind::kIgnoreRange, "ignore_range"},
    {FaultKind::kTrimBody, "trim_body"},
}};

}  // namespace

const char* FaultKindName(FaultKind kind) {
  for (const auto& [k, name] : kNames) {
    if (k == kind) {
      return name;
    }
  }
  return "?";
}

std::optional<FaultKind> ParseFaultKind(const std::string& name) {
  for (const auto& [kind, text] : kNames) {
    if (name == text) {
      return kind;
    }
  }
  return std::nullopt;
}

bool ReplacesHandling(FaultKind kind) {
  switch (kind) {
    case FaultKind::kStatus:
    case FaultKind::kNotEnoughSpace:
    case FaultKind::kHugeBody:
    case FaultKind::kReset:
    case FaultKind::kBadLocation:
    case FaultKind::kLoopLocation:
      return true;
    default:
      return false;
  }
}

bool GlobMatch(const std::string& pattern, const std::string& text) {
  // Iterative matcher with backtracking to the last "*".
  size_t p = 0;
  size_t t = 0;
  size_t star = std::string::npos;
  size_t resume = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = t;
    } else if (p < pattern.size() && pattern[p] == text[t]) {
      ++p;
      ++t;
    } else if (star != std::string::npos) {
      p = star + 1;
      t = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') {
    ++p;
  }
  return p == pattern.size();
}

bool FaultMatch::Matches(const std::string& role_name, const std::string& method_name,
                         const std::string& target, const std::string& range_header) const {
  return (role.empty() || role == role_name) && (method.empty() || method == method_name) &&
         GlobMatch(path.empty() ? "*" : path, target) &&
         (range.empty() || GlobMatch(range, range_header));
}

uint64_t FaultInjector::Add(const FaultMatch& match, const FaultAction& action, int count) {
  const std::lock_guard<std::mutex> lock(mu_);
  rules_.push_back(FaultRule{next_id_, match, action, count});
  return next_id_++;
}

void FaultInjector::SetRandom(const RandomFaults& random) {
  const std::lock_guard<std::mutex> lock(mu_);
  random_ = random;
  generator_.seed(random.seed);
}

void FaultInjector::ClearRandom() {
  const std::lock_guard<std::mutex> lock(mu_);
  random_.reset();
}

void FaultInjector::Clear() {
  const std::lock_guard<std::mutex> lock(mu_);
  rules_.clear();
  random_.reset();
}

std::vector<FaultRule> FaultInjector::Rules() const {
  const std::lock_guard<std::mutex> lock(mu_);
  return rules_;
}

std::optional<RandomFaults> FaultInjector::Random() const {
  const std::lock_guard<std::mutex> lock(mu_);
  return random_;
}

std::optional<FaultAction> FaultInjector::Take(const std::string& role, const std::string& method,
                                               const std::string& target,
                                               const std::string& range_header) {
  const std::lock_guard<std::mutex> lock(mu_);
  for (auto it = rules_.begin(); it != rules_.end(); ++it) {
    if (it->match.Matches(role, method, target, range_header)) {
      const FaultAction action = it->action;
      if (--it->remaining <= 0) {
        rules_.erase(it);
      }
      return action;
    }
  }
  if (!random_ || random_->kinds.empty() ||
      !random_->match.Matches(role, method, target, range_header)) {
    return std::nullopt;
  }
  const double draw = std::uniform_real_distribution<double>(0.0, 1.0)(generator_);
  const size_t pick =
      std::uniform_int_distribution<size_t>(0, random_->kinds.size() - 1)(generator_);
  if (draw >= random_->probability) {
    return std::nullopt;
  }
  FaultAction action = random_->params;
  action.kind = random_->kinds[pick];
  return action;
}

}  // namespace ocs
