// The piece plan: whole pieces, a short last piece, and the empty plans.
#include "update/piece_plan.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace zev {
namespace {

TEST(PiecePlan, PieceSizeFollowsTheGranularity) {
  EXPECT_EQ(pieceSizeFor(1), 4096u);
  EXPECT_EQ(pieceSizeFor(8), 32768u);
  EXPECT_EQ(pieceSizeFor(255), 1044480u);
}

struct PlanCase {
  const char* name;
  std::uint32_t transferLength;
  std::uint32_t pieceSize;
  std::vector<Piece> expected;
};

TEST(PiecePlan, SmallPlans) {
  const std::vector<PlanCase> cases = {
      {"divides", 12, 4, {{0, 4}, {4, 4}, {8, 4}}},
      {"short last piece", 10, 4, {{0, 4}, {4, 4}, {8, 2}}},
      {"one short piece", 3, 4, {{0, 3}}},
      {"exactly one piece", 4, 4, {{0, 4}}},
      {"nothing to send", 0, 4, {}},
      {"no piece size", 10, 0, {}},
  };
  for (const PlanCase& c : cases) {
    EXPECT_EQ(planPieces(c.transferLength, c.pieceSize), c.expected) << c.name;
  }
}

// Every plan covers [0, transferLength) contiguously with pieces no larger
// than the piece size, all whole but possibly the last.
void expectCovers(std::uint32_t transferLength, std::uint32_t pieceSize) {
  const std::vector<Piece> plan = planPieces(transferLength, pieceSize);
  std::uint32_t next = 0;
  for (std::size_t i = 0; i < plan.size(); ++i) {
    EXPECT_EQ(plan[i].offset, next);
    EXPECT_GT(plan[i].length, 0u);
    if (i + 1 < plan.size()) {
      EXPECT_EQ(plan[i].length, pieceSize);
    } else {
      EXPECT_LE(plan[i].length, pieceSize);
    }
    next += plan[i].length;
  }
  EXPECT_EQ(next, transferLength);
}

TEST(PiecePlan, TheImageForEveryGranularity) {
  constexpr std::uint32_t kImage = 2097152;
  EXPECT_EQ(planPieces(kImage, pieceSizeFor(1)).size(), 512u);
  EXPECT_EQ(planPieces(kImage, pieceSizeFor(1)).back(), (Piece{2093056, 4096}));
  EXPECT_EQ(planPieces(kImage, pieceSizeFor(8)).size(), 64u);
  const auto three = planPieces(kImage, pieceSizeFor(3));
  ASSERT_EQ(three.size(), 171u);  // 170 whole pieces and the last 8192 bytes
  EXPECT_EQ(three.back(), (Piece{170u * 12288u, 8192u}));
  for (std::int32_t granularity = 1; granularity <= 255; ++granularity) {
    expectCovers(kImage, pieceSizeFor(granularity));
  }
}

TEST(PiecePlan, NearTheTopOfThe32BitRange) {
  const std::vector<Piece> plan = planPieces(0xFFFFFFFFu, 0x80000000u);
  EXPECT_EQ(plan, (std::vector<Piece>{{0, 0x80000000u}, {0x80000000u, 0x7FFFFFFFu}}));
}

}  // namespace
}  // namespace zev
