// The streamed candidate spaces: the same sets in the same order as the
// listed spaces, random access by index, and the counts of count_space.
#include "census/space_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "base/checked_math.h"
#include "census/census_table.h"
#include "census/space.h"
#include "census/work_list.h"
#if !TILVANE_REDUCED
#include "census/simpson.h"
#endif

namespace tilvane {
namespace {

// Seeks to a spread of indices (both ends, the end itself, the middle and a
// scattering between) and checks the next few candidates from each against
// the list; a copy taken after the seek must not move with the original.
void expect_seeks_match(SpaceCursor cursor, const ModuliSetList& listed) {
  const std::uint64_t n = listed.size();
  std::vector<std::uint64_t> indices = {
      0, 1, n / 3, n / 2, n - std::min<std::uint64_t>(n, 2), n - std::min<std::uint64_t>(n, 1), n};
  for (std::uint64_t i = 1; i <= 12; ++i) indices.push_back(i * 2654435761u % (n + 1));
  for (const std::uint64_t index : indices) {
    if (index > n) continue;
    ASSERT_TRUE(cursor.seek(index).ok()) << index;
    EXPECT_EQ(cursor.index(), index);
    const SpaceCursor copy = cursor;
    ModuliSet set;
    for (std::uint64_t i = index; i < std::min(n, index + 3); ++i) {
      ASSERT_TRUE(cursor.next(set)) << i;
      EXPECT_EQ(set, listed[i]) << "after seeking " << index;
    }
    if (index + 3 >= n) {
      EXPECT_FALSE(cursor.next(set));
    }
    SpaceCursor rewound = copy;
    if (index < n) {
      ASSERT_TRUE(rewound.next(set));
      EXPECT_EQ(set, listed[index]) << "copy after seeking " << index;
    }
  }
  EXPECT_FALSE(cursor.seek(n + 1).ok());
}

void expect_stream_matches_list(const CensusSpace& space) {
  SCOPED_TRACE(describe_space(space));
  auto listed = space_candidates(space);
  ASSERT_TRUE(listed.ok()) << listed.error();
  auto counted = count_space(space);
  ASSERT_TRUE(counted.ok()) << counted.error();
  auto cursor = SpaceCursor::open(space);
  ASSERT_TRUE(cursor.ok()) << cursor.error();
  EXPECT_EQ(cursor->count(), *counted);
  ASSERT_EQ(cursor->count(), listed->size());
  SpaceCursor walk = *cursor;
  ModuliSet set;
  for (std::size_t i = 0; i < listed->size(); ++i) {
    ASSERT_EQ(walk.index(), i);
    ASSERT_TRUE(walk.next(set)) << i;
    ASSERT_EQ(set, (*listed)[i]) << "index " << i;
  }
  EXPECT_FALSE(walk.next(set));
  EXPECT_EQ(walk.index(), walk.count());
  expect_seeks_match(*cursor, *listed);
}

TEST(SpaceStream, CensusSpacesStreamInTheListedOrder) {
  for (const CensusSize& census : census_table()) {
    // The k = 6 space is nothing but the largest subsets case.
    if (census.space.k != 6) expect_stream_matches_list(census.space);
  }
}

TEST(SpaceStream, SmallSpacesStreamInTheListedOrder) {
  const std::vector<CensusSpace> spaces = {
    {SpaceKind::Subsets, 1, 2},
    {SpaceKind::Subsets, 3, 9},
    {SpaceKind::Subsets, 2, 50},
    {SpaceKind::Subsets, 4, 4},  // only three values
    {SpaceKind::CommonMultiples, 1, 2},
    {SpaceKind::CommonMultiples, 1, 30},
    {SpaceKind::CommonMultiples, 2, 12},
    {SpaceKind::CommonMultiples, 4, 60},
    {SpaceKind::CommonMultiples, 6, 97},
    {SpaceKind::CommonMultiples, 6, 12},  // only 5 values divide 12
#if !TILVANE_REDUCED
    {SpaceKind::Simpson, 1, 100},  // n(L) < 1 only for L = 1
    {SpaceKind::Simpson, 4, 64},   // no L with n(L) < 4 has four divisors
    {SpaceKind::Simpson, 5, 12},   // {2, 3, 4, 6, 12} alone
    {SpaceKind::Simpson, 5, 1000},
    {SpaceKind::Simpson, 6, 64},
    {SpaceKind::Simpson, 8, 300},
    {SpaceKind::Simpson, 9, 100},
#endif
  };
  for (const CensusSpace& space : spaces) expect_stream_matches_list(space);
}

TEST(SpaceStream, OpenFailsAsTheCountDoes) {
  const std::vector<CensusSpace> spaces = {
      {SpaceKind::CommonMultiples, 0, 64},                     // no moduli
      {SpaceKind::CommonMultiples, kSpaceSizeLimit + 1, 64},   // more than the searches take
      {SpaceKind::Subsets, 3, 1},                              // no value at all
      {SpaceKind::CommonMultiples, 3, space_lcm_limit() + 1},  // beyond the period limit
      {SpaceKind::Subsets, 30, 1000},                          // C(999, 30) exceeds 64 bits
  };
  for (const CensusSpace& space : spaces) {
    auto cursor = SpaceCursor::open(space);
    auto counted = count_space(space);
    ASSERT_FALSE(counted.ok());
    ASSERT_FALSE(cursor.ok()) << describe_space(space);
    EXPECT_EQ(cursor.error(), counted.error());
  }
}

// The parts of a work list, read as lists of their own, are the whole list
// cut in order, each position once, their lengths within one of each other.
TEST(SpaceStream, PartsCutTheWorkListInOrder) {
  const CensusSpace space{SpaceKind::CommonMultiples, 6, 97};
  auto whole = space_work(space, 3);
  ASSERT_TRUE(whole.ok());
  const auto read_all = [](const WorkList& work) {
    ModuliSetList sets;
    auto reader = work.read_from(0);
    ModuliSet set;
    while (reader.ok() && (*reader)->next(set)) sets.push_back(set);
    return sets;
  };
  const ModuliSetList all = read_all(**whole);
  for (const std::uint64_t parts : std::vector<std::uint64_t>{1, 2, 7, 64, 1000}) {
    ModuliSetList joined;
    for (std::uint64_t part = 1; part <= parts; ++part) {
      auto copy = space_work(space, 3);
      ASSERT_TRUE(copy.ok());
      const auto piece = part_work(std::move(*copy), part, parts);
      const PartRange range = part_range(all.size(), part, parts);
      ASSERT_EQ(range.begin, joined.size());
      ASSERT_LE(piece->count(), all.size() / parts + 1);
      ASSERT_GE(piece->count(), all.size() / parts);
      const ModuliSetList sets = read_all(*piece);
      ASSERT_EQ(sets.size(), piece->count());
      joined.insert(joined.end(), sets.begin(), sets.end());
    }
    EXPECT_EQ(joined, all) << parts << " parts";
  }
  const PartRange last = part_range(UINT64_MAX, 3, 3);
  EXPECT_EQ(last.end, UINT64_MAX);
  EXPECT_EQ(last.begin, UINT64_MAX / 3 * 2);
}

#if !TILVANE_REDUCED
// A space far too large to list: from a spread of indices, a stretch of the
// walk must be strictly increasing, consist of admitted sets, and end where
// seeking its end index lands.
TEST(SpaceStream, SeekAgreesWithTheWalkInASpaceTooLargeToList) {
  const CensusSpace space{SpaceKind::Simpson, 13, 4096};
  auto cursor = SpaceCursor::open(space);
  ASSERT_TRUE(cursor.ok()) << cursor.error();
  ASSERT_EQ(cursor->count(), 122124908u);
  const std::uint64_t stretch = 3000;
  const std::vector<std::uint64_t> starts = {0, 1234567, 61062454, 99999999,
                                             cursor->count() - stretch};
  for (const std::uint64_t start : starts) {
    ASSERT_TRUE(cursor->seek(start).ok());
    ModuliSet previous;
    ModuliSet set;
    for (std::uint64_t i = 0; i < stretch; ++i) {
      ASSERT_TRUE(cursor->next(set));
      ASSERT_EQ(set.size(), space.k);
      ASSERT_TRUE(std::is_sorted(set.begin(), set.end()) &&
                  std::adjacent_find(set.begin(), set.end()) == set.end());
      const auto lcm = checked_lcm_of(set);
      ASSERT_TRUE(lcm && *lcm <= space.bound && simpson_sum(*lcm) < space.k);
      ASSERT_LT(previous, set) << "index " << start + i;
      previous = set;
    }
    ModuliSet following;
    const bool more = cursor->next(following);
    ASSERT_TRUE(cursor->seek(start + stretch).ok());
    ModuliSet sought;
    EXPECT_EQ(cursor->next(sought), more);
    EXPECT_EQ(sought, following);
  }
}
#else
TEST(SpaceStream, SimpsonSpaceIsNotInTheReducedBuild) {
  EXPECT_FALSE(SpaceCursor::open({SpaceKind::Simpson, 10, 512}).ok());
}
#endif

}  // namespace
}  // namespace tilvane
