#include "test_support.h"

namespace {

int sharpen(const test_image& in, float amount, test_image* out) {
    return run_worker(filter_of(filter_id::sharpen).worker, in, &amount, out);
}

// Grey 50 all round a centre of grey 100.
test_image bright_centre() {
    test_image image(3, 3, grey(50));
    image.set(1, 1, grey(100));
    return image;
}

void expect_ring(const test_image& out, int corner, int edge, int centre) {
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 3; ++x) {
            const int off_axis = (x != 1) + (y != 1);
            const int expected = off_axis == 2 ? corner : off_axis == 1 ? edge : centre;
            EXPECT_EQ(out.at(x, y), grey(static_cast<uint8_t>(expected))) << "at " << x << "," << y;
        }
    }
}

}  // namespace

TEST(Sharpen, BrightCentreAtThreeAmounts) {
    const struct {
        float amount;
        int corner, edge, centre;
    } cases[] = {{1.0f, 50, 38, 150}, {0.5f, 50, 44, 125}, {5.0f, 50, 0, 255}};
    for (const auto& c : cases) {
        test_image out;
        ASSERT_EQ(sharpen(bright_centre(), c.amount, &out), 1);
        SCOPED_TRACE(c.amount);
        expect_ring(out, c.corner, c.edge, c.centre);
    }
}

// Every neighbour of a one-pixel-wide image's missing side is the pixel itself:
// in a column only up and down differ from it.
TEST(Sharpen, ColumnReadsOnlyUpAndDown) {
    test_image column(1, 3, grey(50));
    column.set(0, 1, grey(100));
    test_image out;
    ASSERT_EQ(sharpen(column, 1.0f, &out), 1);
    EXPECT_EQ(out.at(0, 0), grey(38));  // 2*50 - (50+50+50+100)/4 = 37.5, half rounds up
    EXPECT_EQ(out.at(0, 1), grey(125));  // 2*100 - (50+50+100+100)/4
    EXPECT_EQ(out.at(0, 2), grey(38));
}
