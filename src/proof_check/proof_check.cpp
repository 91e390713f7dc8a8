#include "proof_check/proof_check.h"

#include <algorithm>
#include <numeric>
#include <optional>
#include <set>
#include <vector>

#include "base/checked_math.h"
#include "base/text_format.h"
#include "base/text_scan.h"

namespace tilvane {
namespace {

constexpr std::uint64_t kLargestPeriod = 20000000;

struct Bad {
  std::string why;
};

std::vector<std::string_view> words_of(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t i = 0;
  while (i < line.size()) {
    if (line[i] == ' ') {
      ++i;
      continue;
    }
    const std::size_t end = std::min(line.find(' ', i), line.size());
    words.push_back(line.substr(i, end - i));
    i = end;
  }
  return words;
}

std::optional<std::uint64_t> number(std::string_view word) {
  if (word.empty() || word.size() > 19) return std::nullopt;
  for (const char c : word) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  return parse_unsigned_decimal(word);
}

// A set of distinct moduli, each at least 1, whose LCM is at most the
// largest period; the numbers come from words[first, last).
std::vector<std::uint64_t> moduli_from(const std::vector<std::string_view>& words,
                                       std::size_t first, std::size_t last, std::uint64_t& period,
                                       std::string& why) {
  std::vector<std::uint64_t> moduli;
  period = 1;
  for (std::size_t i = first; i < last; ++i) {
    const auto m = number(words[i]);
    if (!m || *m == 0) {
      why = cat("not a modulus: ", words[i]);
      return {};
    }
    if (std::find(moduli.begin(), moduli.end(), *m) != moduli.end()) {
      why = cat("the modulus ", *m, " appears twice");
      return {};
    }
    const auto next = checked_lcm(period, *m);
    if (!next || *next > kLargestPeriod) {
      why = "the period is too large to check";
      return {};
    }
    period = *next;
    moduli.push_back(*m);
  }
  if (moduli.empty()) why = "no moduli";
  return moduli;
}

// One trace being replayed: the assigned classes and how many assigned
// classes hold each residue modulo the period.
class Replay {
 public:
  Replay(std::vector<std::uint64_t> moduli, std::uint64_t period, int version)
      : moduli_(std::move(moduli)),
        period_(period),
        version_(version),
        cls_(moduli_.size(), kFree),
        depth_(period) {}

  // Checks the node at lines[at] and its subtree; at moves past it.
  std::optional<Bad> node(const std::vector<std::string_view>& lines, std::size_t& at, bool root,
                          std::uint64_t after_s, std::uint64_t& steps) {
    if (at >= lines.size()) return Bad{"the trace ends inside its tree"};
    const auto words = words_of(lines[at]);
    ++at;
    ++steps;
    if (words.empty()) return Bad{"an empty line"};
    const std::string_view step = words[0];
    if (step == "B" && words.size() == 1) return bound(period_);
    if (step == "P" && words.size() == 1) {
      std::uint64_t q = 1;
      for (std::size_t j = 0; j < moduli_.size(); ++j) {
        if (cls_[j] == kFree) q = std::lcm(q, moduli_[j]);
      }
      return bound(q);
    }
    if (step == "s" && words.size() == 2) {
      if (!root) return Bad{"a translation step below the root"};
      const auto j = index(words[1]);
      if (!j) return Bad{"a translation of a modulus not in the set"};
      assign(*j, 0);
      auto bad = node(lines, at, false, moduli_[*j], steps);
      withdraw(*j);
      return bad;
    }
    if (step == "u" && words.size() >= 3) return units(words, lines, at, after_s, steps);
    if (step == "o" && words.size() >= 3 && version_ >= 2) return orbits(words, lines, at, steps);
    if (step == "a" && words.size() == 2) {
      // a M: a cover gives the free modulus M some class; one child per
      // class 0, 1, ..., M - 1.
      const auto j = index(words[1]);
      if (!j || cls_[*j] != kFree) return Bad{"a class branch on a modulus that is not free"};
      for (std::uint64_t c = 0; c < moduli_[*j]; ++c) {
        assign(*j, c);
        auto bad = node(lines, at, false, 0, steps);
        withdraw(*j);
        if (bad) return bad;
      }
      return std::nullopt;
    }
    if ((step == "b" && words.size() >= 2) || (step == "f" && words.size() >= 3)) {
      return branch(words, lines, at, steps);
    }
    return Bad{cat("not a step: ", lines[at - 1])};
  }

 private:
  static constexpr std::uint64_t kFree = UINT64_MAX;

  std::optional<std::size_t> index(std::string_view word) const {
    const auto m = number(word);
    if (!m) return std::nullopt;
    for (std::size_t j = 0; j < moduli_.size(); ++j) {
      if (moduli_[j] == *m) return j;
    }
    return std::nullopt;
  }
  void assign(std::size_t j, std::uint64_t c) {
    cls_[j] = c;
    for (std::uint64_t x = c; x < period_; x += moduli_[j]) ++depth_[x];
  }
  void withdraw(std::size_t j) {
    for (std::uint64_t x = cls_[j]; x < period_; x += moduli_[j]) --depth_[x];
    cls_[j] = kFree;
  }

  // B (q = the period) and P (q = the LCM of the unassigned moduli): the
  // residues modulo q with an uncovered lift must all lie in classes of the
  // unassigned moduli, which divide q; each holds at most its best class
  // count of them, and those counts must fall short of their number.
  std::optional<Bad> bound(std::uint64_t q) const {
    std::vector<std::uint8_t> open(q, 0);
    for (std::uint64_t x = 0; x < period_; ++x) {
      if (depth_[x] == 0) open[x % q] = 1;
    }
    std::vector<std::uint64_t> uncovered;
    for (std::uint64_t y = 0; y < q; ++y) {
      if (open[y] != 0) uncovered.push_back(y);
    }
    const std::uint64_t need = uncovered.size();
    std::uint64_t reach = 0;
    for (std::size_t j = 0; j < moduli_.size(); ++j) {
      if (cls_[j] != kFree) continue;
      std::vector<std::uint64_t> in_class(moduli_[j], 0);
      for (const std::uint64_t y : uncovered) ++in_class[y % moduli_[j]];
      reach += *std::max_element(in_class.begin(), in_class.end());
    }
    if (reach >= need) {
      return Bad{cat("the bound does not hold: the free moduli reach ", reach, " of ", need,
                     " uncovered residues modulo ", q)};
    }
    return std::nullopt;
  }

  // b X M...: X is uncovered, so some free modulus holds it in any cover;
  // the list must be exactly the free moduli. f P X M...: X lies in a
  // fibre of the prime P with more uncovered points than there are free
  // moduli holding the full power of P in the period (each meets a fibre
  // once), so a free modulus of smaller P-part holds the whole fibre; the
  // list must be exactly those.
  std::optional<Bad> branch(const std::vector<std::string_view>& words,
                            const std::vector<std::string_view>& lines, std::size_t& at,
                            std::uint64_t& steps) {
    const bool fibre = words[0] == "f";
    const std::size_t first = fibre ? 3 : 2;
    const auto x = number(words[first - 1]);
    if (!x || *x >= period_) return Bad{"a branch residue outside the period"};
    if (depth_[*x] != 0) return Bad{cat("residue ", *x, " is already covered")};
    std::uint64_t full_power = 0;
    if (fibre) {
      const auto p = number(words[1]);
      if (!p || *p < 2 || period_ % *p != 0) return Bad{"a fibre prime not dividing the period"};
      for (std::uint64_t d = 2; d * d <= *p; ++d) {
        if (*p % d == 0) return Bad{"a fibre number that is not prime"};
      }
      full_power = 1;
      while (period_ % (full_power * *p) == 0) full_power *= *p;
      std::uint64_t full = 0;
      for (std::size_t j = 0; j < moduli_.size(); ++j) {
        if (cls_[j] == kFree && moduli_[j] % full_power == 0) ++full;
      }
      const std::uint64_t step = period_ / *p;
      std::uint64_t open = 0;
      for (std::uint64_t i = 0; i < *p; ++i) open += depth_[*x % step + i * step] == 0 ? 1 : 0;
      if (open <= full) return Bad{cat("the fibre of ", *x, " is not over-full")};
    }
    std::vector<std::size_t> children;
    for (std::size_t i = first; i < words.size(); ++i) {
      const auto j = index(words[i]);
      if (!j || cls_[*j] != kFree) return Bad{cat("not a free modulus: ", words[i])};
      if (std::find(children.begin(), children.end(), *j) != children.end()) {
        return Bad{cat("the modulus ", words[i], " is listed twice")};
      }
      if (fibre && moduli_[*j] % full_power == 0) {
        return Bad{cat("the modulus ", words[i], " meets each fibre once")};
      }
      children.push_back(*j);
    }
    for (std::size_t j = 0; j < moduli_.size(); ++j) {
      const bool wanted = cls_[j] == kFree && (!fibre || moduli_[j] % full_power != 0);
      if (wanted && std::find(children.begin(), children.end(), j) == children.end()) {
        return Bad{cat("the branch leaves out the modulus ", moduli_[j])};
      }
    }
    for (const std::size_t j : children) {
      assign(j, *x % moduli_[j]);
      auto bad = node(lines, at, false, 0, steps);
      withdraw(j);
      if (bad) return bad;
    }
    return std::nullopt;
  }

  // u M C...: right after s M0. The maps x -> u·x + t·M0 (u a unit modulo
  // the period) keep M0's class 0 and map covers to covers; they send a
  // class c of M to every class c' with c' = u·c mod g, g = gcd(M0, M),
  // for u a unit modulo M. So the listed classes must meet every residue
  // modulo g in that way.
  std::optional<Bad> units(const std::vector<std::string_view>& words,
                           const std::vector<std::string_view>& lines, std::size_t& at,
                           std::uint64_t after_s, std::uint64_t& steps) {
    if (after_s == 0) return Bad{"a unit step that does not follow a translation"};
    const auto j = index(words[1]);
    if (!j || cls_[*j] != kFree) return Bad{"a unit step on a modulus that is not free"};
    const std::uint64_t m = moduli_[*j];
    const std::uint64_t g = gcd_u64(after_s, m);
    std::vector<std::uint64_t> classes;
    for (std::size_t i = 2; i < words.size(); ++i) {
      const auto c = number(words[i]);
      if (!c || *c >= m) return Bad{cat("not a class of ", m, ": ", words[i])};
      if (std::find(classes.begin(), classes.end(), *c) != classes.end()) {
        return Bad{"a class listed twice"};
      }
      classes.push_back(*c);
    }
    std::vector<std::uint8_t> unit_mod_g(g, 0);
    for (std::uint64_t u = 1; u <= m; ++u) {
      if (gcd_u64(u, m) == 1) unit_mod_g[u % g] = 1;
    }
    std::vector<std::uint8_t> met(g, 0);
    for (const std::uint64_t c : classes) {
      for (std::uint64_t v = 0; v < g; ++v) {
        if (unit_mod_g[v] != 0) met[(v * (c % g)) % g] = 1;
      }
    }
    if (std::find(met.begin(), met.end(), 0) != met.end()) {
      return Bad{cat("the classes listed for ", m, " miss an orbit")};
    }
    for (const std::uint64_t c : classes) {
      assign(*j, c);
      auto bad = node(lines, at, false, 0, steps);
      withdraw(*j);
      if (bad) return bad;
    }
    return std::nullopt;
  }

  // o M C...: a map x -> u·x, u a unit modulo the period, permutes the
  // residues and sends a class c of a modulus to the class u·c of it; one
  // that keeps every assigned class maps covers that extend this node to
  // covers that extend it. Those maps form a group, so the listed classes
  // must meet every orbit of it on the classes of M.
  std::optional<Bad> orbits(const std::vector<std::string_view>& words,
                            const std::vector<std::string_view>& lines, std::size_t& at,
                            std::uint64_t& steps) {
    const auto j = index(words[1]);
    if (!j || cls_[*j] != kFree) return Bad{"an orbit step on a modulus that is not free"};
    const std::uint64_t m = moduli_[*j];
    std::vector<std::uint64_t> classes;
    for (std::size_t i = 2; i < words.size(); ++i) {
      const auto c = number(words[i]);
      if (!c || *c >= m) return Bad{cat("not a class of ", m, ": ", words[i])};
      if (std::find(classes.begin(), classes.end(), *c) != classes.end()) {
        return Bad{"a class listed twice"};
      }
      classes.push_back(*c);
    }
    std::vector<std::uint8_t> met(m, 0);
    for (std::uint64_t u = 1; u <= period_; ++u) {
      if (gcd_u64(u, period_) != 1) continue;
      bool keeps = true;
      for (std::size_t i = 0; i < moduli_.size() && keeps; ++i) {
        if (cls_[i] != kFree) keeps = u % moduli_[i] * cls_[i] % moduli_[i] == cls_[i];
      }
      if (!keeps) continue;
      for (const std::uint64_t c : classes) met[u % m * c % m] = 1;
    }
    if (std::find(met.begin(), met.end(), 0) != met.end()) {
      return Bad{cat("the classes listed for ", m, " miss an orbit")};
    }
    for (const std::uint64_t c : classes) {
      assign(*j, c);
      auto bad = node(lines, at, false, 0, steps);
      withdraw(*j);
      if (bad) return bad;
    }
    return std::nullopt;
  }

  std::vector<std::uint64_t> moduli_;
  std::uint64_t period_;
  int version_;
  std::vector<std::uint64_t> cls_;
  std::vector<std::uint32_t> depth_;
};

}  // namespace

ProofCheck check_refutation_file(std::string_view text) {
  ProofCheck report;
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    if (end == std::string_view::npos) {
      report.message = cat("line ", lines.size() + 1, ": the file does not end in a line feed");
      return report;
    }
    lines.push_back(text.substr(0, end));
    text.remove_prefix(end + 1);
  }
  std::set<std::vector<std::uint64_t>> settled;  // sorted sets without a cover
  std::size_t at = 0;
  const auto bad_at = [&](std::size_t line, const std::string& why) {
    report.message = cat("line ", line + 1, ": ", why);
    return report;
  };
  while (at < lines.size()) {
    const std::size_t start = at;
    const auto words = words_of(lines[at]);
    std::string why;
    std::uint64_t period = 1;
    if (!words.empty() && words[0] == "density") {
      auto moduli = moduli_from(words, 1, words.size(), period, why);
      if (moduli.empty()) return bad_at(at, why);
      std::uint64_t held = 0;
      for (const std::uint64_t m : moduli) held += period / m;
      if (held >= period) return bad_at(at, "the reciprocal sum is not below 1");
      std::sort(moduli.begin(), moduli.end());
      settled.insert(moduli);
      ++report.density;
      ++at;
      continue;
    }
    if (!words.empty() && words[0] == "subset") {
      const auto in = std::find(words.begin(), words.end(), "in");
      const auto split = static_cast<std::size_t>(in - words.begin());
      if (in == words.end()) return bad_at(at, "a subset line without \"in\"");
      auto part = moduli_from(words, 1, split, period, why);
      if (part.empty()) return bad_at(at, why);
      auto whole = moduli_from(words, split + 1, words.size(), period, why);
      if (whole.empty()) return bad_at(at, why);
      std::sort(part.begin(), part.end());
      std::sort(whole.begin(), whole.end());
      if (settled.count(whole) == 0) return bad_at(at, "the larger set is not settled above");
      if (!std::includes(whole.begin(), whole.end(), part.begin(), part.end())) {
        return bad_at(at, "the first set does not lie in the second");
      }
      settled.insert(part);
      ++report.subsets;
      ++at;
      continue;
    }
    int version = 0;
    if (lines[at] == "tilvane-refutation 1") version = 1;
    if (lines[at] == "tilvane-refutation 2") version = 2;
    if (version == 0) return bad_at(at, "expected a trace header");
    if (++at >= lines.size()) return bad_at(at, "the trace names no moduli");
    const auto header = words_of(lines[at]);
    if (header.empty() || header[0] != "moduli") return bad_at(at, "expected the moduli line");
    auto moduli = moduli_from(header, 1, header.size(), period, why);
    if (moduli.empty()) return bad_at(at, why);
    ++at;
    Replay replay(moduli, period, version);
    const std::size_t root = at;
    if (auto bad = replay.node(lines, at, true, 0, report.steps)) {
      // The failing step is the last line read.
      return bad_at(at == root ? at : at - 1, bad->why);
    }
    if (at >= lines.size() || lines[at] != "end")
      return bad_at(at, "expected the end of the trace");
    ++at;
    std::sort(moduli.begin(), moduli.end());
    settled.insert(moduli);
    ++report.traces;
    (void)start;
  }
  if (report.traces + report.density + report.subsets == 0) {
    report.message = "the file holds no refutation";
    return report;
  }
  report.verified = true;
  report.message = cat("VERIFIED: ", report.traces, " sets refuted by traces (", report.steps,
                       " steps), ", report.density, " by density, ", report.subsets, " as subsets");
  return report;
}

}  // namespace tilvane
