#include "census_tool/options.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "base/quoted.h"
#include "base/text_format.h"
#include "base/text_scan.h"
#include "census_tool/moduli_options.h"

namespace tilvane {
namespace {

enum class Key {
  Size,
  MaxLcm,
  Space,
  Search,
  Output,
  Checkpoint,
  MaxNodes,
  Sample,
  SampleTime,
  Covers,
  Threads,
  CheckpointInterval,
  ProgressInterval,
  RankTimeout,
  ChunkLimit,
  Without,
  Part,
  Moduli,
  ModuliFile,
  DivisorsOf,
  MinModulus,
  Proof
};

struct ValueOption {
  std::string_view name;
  Key key;
};

constexpr ValueOption kValueOptions[] = {
    {"--size", Key::Size},
    {"--max-lcm", Key::MaxLcm},
    {"--space", Key::Space},
    {"--search", Key::Search},
    {"--output", Key::Output},
    {"--checkpoint", Key::Checkpoint},
    {"--max-nodes", Key::MaxNodes},
    {"--every", Key::Sample},
    {"--sample", Key::Sample},  // the older name of --every
    {"--sample-time", Key::SampleTime},
    {"--covers", Key::Covers},
    {"--threads", Key::Threads},
    {"--checkpoint-interval", Key::CheckpointInterval},
    {"--progress-interval", Key::ProgressInterval},
    {"--rank-timeout", Key::RankTimeout},
    {"--chunk-limit", Key::ChunkLimit},
    {"--without", Key::Without},
    {"--part", Key::Part},
    {"--moduli", Key::Moduli},
    {"--moduli-file", Key::ModuliFile},
    {"--divisors-of", Key::DivisorsOf},
    {"--min-modulus", Key::MinModulus},
    {"--proof", Key::Proof},
};

// The techniques of the decision search that --without switches off, for
// measuring what each gives; the answers are the same with or without any.
struct Technique {
  std::string_view name;
  bool DecisionOptions::*flag;
};
constexpr Technique kTechniques[] = {
    {"symmetry", &DecisionOptions::symmetry},
    {"fibres", &DecisionOptions::fibres},
    {"redundant", &DecisionOptions::redundant},
    {"dominance", &DecisionOptions::dominance},
    // covers looked for by local search before the exhaustive search
    {"local-search", &DecisionOptions::local_search},
    {"deletions", &DecisionOptions::deletions},
    {"covers", &DecisionOptions::covers},
    // sets the search does not settle at once handed to the moduli search
    {"moduli-search", &DecisionOptions::moduli_search},
};

// The techniques of the moduli search (symmetry, fibres and local-search
// switch off both searches' rules of that name).
struct ModuliTechnique {
  std::string_view name;
  bool ModuliOptions::*flag;
};
constexpr ModuliTechnique kModuliTechniques[] = {
    {"symmetry", &ModuliOptions::symmetry},
    {"fibres", &ModuliOptions::fibres},
    {"bound", &ModuliOptions::bound},
    {"projection", &ModuliOptions::project},
    {"fail-first", &ModuliOptions::fail_first},
    {"classes", &ModuliOptions::class_branching},
    {"local-search", &ModuliOptions::local_search},
    {"orbits", &ModuliOptions::orbits},
};

Status switch_off(DecisionOptions& options, ModuliOptions& moduli, std::string_view list) {
  for (;;) {
    const std::size_t comma = list.find(',');
    const std::string_view name = list.substr(0, comma);
    const Technique* found = nullptr;
    for (const Technique& t : kTechniques) {
      if (t.name == name) found = &t;
    }
    const ModuliTechnique* moduli_found = nullptr;
    for (const ModuliTechnique& t : kModuliTechniques) {
      if (t.name == name) moduli_found = &t;
    }
    if (found == nullptr && moduli_found == nullptr) {
      return fail(
          cat("option --without takes symmetry, fibres, redundant, dominance, local-search, "
              "deletions, covers or moduli-search (and for moduli sets bound, projection, "
              "fail-first, classes or orbits), not ",
              quoted(name)));
    }
    if (found != nullptr) options.*(found->flag) = false;
    if (moduli_found != nullptr) moduli.*(moduli_found->flag) = false;
    if (comma == std::string_view::npos) return {};
    list.remove_prefix(comma + 1);
  }
}

// Seconds beyond this would overflow the clocks that count them.
constexpr std::uint64_t kLongestSeconds = 1'000'000'000;

Result<std::uint64_t> positive_number(std::string_view option, std::string_view text) {
  const auto value = parse_unsigned_decimal(text);
  if (!value || *value == 0) {
    return fail(cat("option ", option, " needs a positive whole number, not ", quoted(text)));
  }
  return *value;
}

// --moduli "4 5 6": positive whole numbers separated by blanks or commas.
Status take_moduli(CensusOptions& o, std::string_view text) {
  auto moduli = parse_moduli_list(text);
  if (!moduli) return fail(cat("option --moduli: ", moduli.error()));
  o.moduli = std::move(*moduli);
  return {};
}

Status take_value(CensusOptions& o, const ValueOption& option, std::string_view value,
                  bool& size_seen, bool& lcm_seen) {
  switch (option.key) {
    case Key::Size: {
      auto k = positive_number(option.name, value);
      if (!k) return std::move(k).take_error();
      o.plan.space.k = static_cast<std::size_t>(std::min<std::uint64_t>(*k, SIZE_MAX));
      size_seen = true;
      return {};
    }
    case Key::MaxLcm: {
      const auto l = parse_unsigned_decimal(value);
      if (!l) return fail(cat("option --max-lcm needs a whole number, not ", quoted(value)));
      o.plan.space.bound = *l;
      lcm_seen = true;
      return {};
    }
    case Key::Space: {
      const auto kind = parse_space_kind(value);
      if (!kind) {
        return fail(cat("option --space takes simpson or common-multiples, not ", quoted(value)));
      }
      o.plan.space.kind = *kind;
      return {};
    }
    case Key::Search:
      if (value == "decide") {
        o.plan.search = SearchKind::Decide;
      } else if (value == "exact") {
        o.plan.search = SearchKind::Exact;
      } else {
        return fail(cat("option --search takes decide or exact, not ", quoted(value)));
      }
      return {};
    case Key::Output:
    case Key::Checkpoint:
    case Key::Covers: {
      if (value.empty()) return fail(cat("option ", option.name, " needs a file name"));
      std::string& target = option.key == Key::Output       ? o.output
                            : option.key == Key::Checkpoint ? o.checkpoint
                                                            : o.covers;
      target = std::string(value);
      return {};
    }
    case Key::CheckpointInterval:
    case Key::ProgressInterval:
    case Key::SampleTime:
    case Key::RankTimeout: {
      auto seconds = positive_number(option.name, value);
      if (!seconds) return std::move(seconds).take_error();
      if (*seconds > kLongestSeconds) {
        return fail(cat("option ", option.name, " takes at most ", kLongestSeconds, " seconds"));
      }
      (option.key == Key::CheckpointInterval ? o.checkpoint_interval_s
       : option.key == Key::ProgressInterval ? o.progress_interval_s
       : option.key == Key::SampleTime       ? o.sample_time_s
                                             : o.rank_timeout_s) = *seconds;
      return {};
    }
    case Key::Without:
      return switch_off(o.decision, o.moduli_search, value);
    case Key::Moduli:
      return take_moduli(o, value);
    case Key::ModuliFile:
    case Key::Proof:
      if (value.empty()) return fail(cat("option ", option.name, " needs a file name"));
      (option.key == Key::Proof ? o.proof : o.moduli_file) = std::string(value);
      return {};
    case Key::DivisorsOf:
    case Key::MinModulus: {
      auto n = positive_number(option.name, value);
      if (!n) return std::move(n).take_error();
      (option.key == Key::DivisorsOf ? o.divisors_of : o.min_modulus) = *n;
      return {};
    }
    case Key::Part: {
      const std::size_t slash = value.find('/');
      const auto part = parse_unsigned_decimal(value.substr(0, slash));
      const auto parts = slash == std::string_view::npos
                             ? std::nullopt
                             : parse_unsigned_decimal(value.substr(slash + 1));
      if (!part || !parts || *part == 0 || *part > *parts) {
        return fail(cat("option --part needs I/N with 1 <= I <= N, not ", quoted(value)));
      }
      o.plan.part = *part;
      o.plan.parts = *parts;
      return {};
    }
    case Key::ChunkLimit: {
      auto limit = positive_number(option.name, value);
      if (!limit) return std::move(limit).take_error();
      o.chunk_limit = *limit;
      return {};
    }
    case Key::MaxNodes:
    case Key::Sample:
    case Key::Threads: {
      auto n = positive_number(option.name, value);
      if (!n) return std::move(n).take_error();
      if (option.key == Key::MaxNodes) o.plan.max_nodes = *n;
      if (option.key == Key::Sample) {
        o.plan.sample = *n;
        o.sample_given = true;
      }
      if (option.key == Key::Threads) o.threads = static_cast<std::size_t>(*n);
      return {};
    }
  }
  return {};
}

}  // namespace

Result<CensusOptions> parse_census_options(std::span<const std::string_view> args) {
  CensusOptions o;
  bool size_seen = false;
  bool lcm_seen = false;
  // Options other than --output and --json, which a merge does not take.
  std::string_view run_option;
  // Each option at most once: a repeated one is more likely a slip (an
  // edited command line, a script that adds its own) than a wish for the
  // last value. --every and its older name --sample count as one.
  std::vector<Key> seen;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    if (!is_valid_utf8(arg)) return fail(cat("argument ", i + 1, " is not valid UTF-8"));
    if (arg == "--help") {
      o.action = CensusOptions::Action::Help;
      return o;
    }
    if (arg == "--version") {
      o.action = CensusOptions::Action::Version;
      return o;
    }
    if (arg == "--json") {
      if (o.json) return fail("option --json given twice");
      o.json = true;
      continue;
    }
    if (arg == "--least-lcm") {
      if (o.action != CensusOptions::Action::Explore) {
        return fail("--least-lcm excludes --estimate and --merge");
      }
      o.action = CensusOptions::Action::LeastLcm;
      run_option = arg;
      continue;
    }
    if (arg == "--estimate" || arg == "--merge") {
      if (o.action != CensusOptions::Action::Explore) {
        return fail("--estimate and --merge exclude each other");
      }
      o.action = arg == "--merge" ? CensusOptions::Action::Merge : CensusOptions::Action::Estimate;
      if (arg == "--estimate") run_option = arg;
      continue;
    }
    if (!arg.starts_with("-")) {
      if (o.action != CensusOptions::Action::Merge) {
        return fail(cat("unexpected argument ", quoted(arg)));
      }
      o.part_lists.emplace_back(arg);
      continue;
    }
    const std::size_t equals = arg.find('=');
    const std::string_view name = arg.substr(0, equals);
    const ValueOption* option = nullptr;
    for (const ValueOption& candidate : kValueOptions) {
      if (candidate.name == name) option = &candidate;
    }
    if (option == nullptr) return fail(cat("unknown option ", quoted(arg)));
    if (std::find(seen.begin(), seen.end(), option->key) != seen.end()) {
      return fail(cat("option ", name, " given twice"));
    }
    seen.push_back(option->key);
    std::string_view value;
    if (equals != std::string_view::npos) {
      value = arg.substr(equals + 1);
    } else if (i + 1 < args.size()) {
      value = args[++i];
      if (!is_valid_utf8(value)) return fail(cat("argument ", i + 1, " is not valid UTF-8"));
    } else {
      return fail(cat("option ", name, " needs a value"));
    }
    if (auto taken = take_value(o, *option, value, size_seen, lcm_seen); !taken) {
      return std::move(taken).take_error();
    }
    if (option->key != Key::Output) run_option = option->name;
  }
  if (o.action == CensusOptions::Action::Merge) {
    if (!run_option.empty()) {
      return fail(cat("--merge takes the parts' lists, --output and --json, not ", run_option));
    }
    if (o.part_lists.empty()) return fail("--merge needs the list of every part");
    return o;
  }
  if (auto moduli = check_moduli_action(o, size_seen, lcm_seen); !moduli) {
    return std::move(moduli).take_error();
  }
  if (o.action == CensusOptions::Action::Moduli || o.action == CensusOptions::Action::LeastLcm) {
    return o;
  }
  if (!size_seen) return fail("option --size is required");
  if (!lcm_seen) return fail("option --max-lcm is required");
  if (o.action == CensusOptions::Action::Estimate &&
      (!o.output.empty() || !o.covers.empty() || !o.checkpoint.empty())) {
    return fail("--estimate writes nothing: it takes no --output, --covers or --checkpoint");
  }
  if (o.action == CensusOptions::Action::Estimate && o.plan.parts > 1) {
    return fail("--estimate prices the whole space: it takes no --part");
  }
  if (o.sample_time_s != 0 && (o.action != CensusOptions::Action::Estimate || o.sample_given)) {
    return fail("--sample-time belongs to --estimate, without --every");
  }
  return o;
}

std::string census_usage(std::string_view program) {
  return cat("usage: ", program,
             " --size K --max-lcm L [--space simpson|common-multiples] [--search decide|exact]\n"
             "         [--output FILE] [--covers DIR] [--checkpoint FILE] [--max-nodes N]\n"
             "         [--every N] [--part I/N] [--threads N] [--without TECHNIQUES]\n"
             "         [--checkpoint-interval SECONDS] [--progress-interval SECONDS]\n"
             "         [--rank-timeout SECONDS] [--chunk-limit N] [--json]\n"
             "   or: ",
             program,
             " --estimate --size K --max-lcm L [--space ...] [--search ...]\n"
             "         [--every N | --sample-time SECONDS] [--threads N] [--without TECHNIQUES]\n"
             "         [--json]\n"
             "   or: ",
             program, " --merge PART_LIST... [--output FILE] [--json]\n", "   or: ", program,
             " --moduli \"M1 M2 ...\" | --moduli-file FILE | --divisors-of L --min-modulus M\n"
             "         [--proof FILE] [--max-nodes N] [--without TECHNIQUES] [--threads N]\n"
             "         [--checkpoint FILE] [--checkpoint-interval SECONDS]\n"
             "         [--progress-interval SECONDS]\n"
             "   or: ",
             program,
             " --least-lcm --min-modulus M [--max-lcm X] [--proof FILE] [--max-nodes N]\n"
             "         [--threads N]\n"
             "   or: ",
             program, " --help | --version\n",
             "Finds every irreducible covering moduli set of a census space; without --output\n"
             "the list goes to standard output and the summary to standard error. Exit status:\n"
             "0 done, 1 failure, 2 finished with candidates left undecided, 75 stopped with a\n"
             "checkpoint (run the same command again to resume); a moduli set: 10 covering,\n"
             "20 no covering. See tilvane-census(1).\n");
}

}  // namespace tilvane
