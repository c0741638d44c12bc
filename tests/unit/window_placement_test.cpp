#include "review/window_placement.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

namespace gifanim::review {
namespace {

std::vector<int> ltrb(const platform::ScreenRect& r) {
    return {r.left, r.top, r.right, r.bottom};
}

const platform::ScreenRect kWorkArea{0, 0, 1280, 984};

TEST(WindowPlacement, InsideTheWorkAreaMovesEachEdgeAsLittleAsItTakes) {
    EXPECT_EQ(ltrb(inside_work_area({100, 200, 400, 500}, kWorkArea)), (std::vector<int>{100, 200, 400, 500}));
    EXPECT_EQ(ltrb(inside_work_area({-163, 4, 643, 336}, kWorkArea)), (std::vector<int>{0, 4, 806, 336}));
    EXPECT_EQ(ltrb(inside_work_area({1000, 900, 1400, 1000}, kWorkArea)), (std::vector<int>{880, 884, 1280, 984}));
    EXPECT_EQ(ltrb(inside_work_area({-50, -60, 30, 20}, {-1024, -40, 0, 728})), (std::vector<int>{-80, -40, 0, 40}));
    // Larger than the work area: the left and top edges, where the caption and buttons are, show.
    EXPECT_EQ(ltrb(inside_work_area({500, -300, 2500, 1500}, kWorkArea)), (std::vector<int>{0, 0, 2000, 1800}));
}

TEST(WindowPlacement, ExtremeStoredPositionsComeInsideWithoutOverflow) {
    EXPECT_EQ(ltrb(inside_work_area({INT_MAX - 480, INT_MAX - 340, INT_MAX, INT_MAX}, kWorkArea)),
              (std::vector<int>{800, 644, 1280, 984}));
    EXPECT_EQ(ltrb(inside_work_area({INT_MIN, INT_MIN, INT_MIN + 480, INT_MIN + 340}, kWorkArea)),
              (std::vector<int>{0, 0, 480, 340}));
    // A size wider than any screen keeps its size, cut only where 32 bits end.
    EXPECT_EQ(ltrb(inside_work_area({-10, 0, INT_MAX, 100}, {100, 0, 1380, 984})),
              (std::vector<int>{100, 0, INT_MAX, 100}));
}

TEST(WindowPlacement, OntoTheWorkAreaMovesOnlyAWindowThatShowsNothing) {
    // Partly off the monitor, as the user may have left it: it stays.
    for (const platform::ScreenRect shows :
         {platform::ScreenRect{-470, 10, 10, 350}, platform::ScreenRect{1279, 983, 1800, 1400}}) {
        EXPECT_EQ(ltrb(onto_work_area(shows, kWorkArea)), ltrb(shows));
    }
    // Wholly off it (a monitor since unplugged), touching its edges included: it comes inside.
    EXPECT_EQ(ltrb(onto_work_area({1920, 100, 2400, 440}, kWorkArea)), (std::vector<int>{800, 100, 1280, 440}));
    EXPECT_EQ(ltrb(onto_work_area({-480, 0, 0, 340}, kWorkArea)), (std::vector<int>{0, 0, 480, 340}));
    EXPECT_EQ(ltrb(onto_work_area({100, 984, 580, 1324}, kWorkArea)), (std::vector<int>{100, 644, 580, 984}));
}

}  // namespace
}  // namespace gifanim::review
