#include "interaction.h"
#include "state.h"

#include <gtest/gtest.h>

TEST(InteractionTest, DragTurnsModelOrTextureFromTheSecondMoveOn) {
    // Buttons held, then the expected turns of the model and the texture for 40 pixels.
    const struct {
        bool left, right;
        float model, texture;
    } cases[] = {{true, false, 10, 0}, {false, true, 0, 10}, {true, true, 10, 0}, {0, 0, 0, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "left " << c.left << " right " << c.right);
        modelAngleX = modelAngleY = textureAngleX = textureAngleY = 0.0f;
        lastMouseValid = false;             // as right after a press
        dragStep(140, 60, c.left, c.right); // only records where the drag starts
        dragStep(180, 80, c.left, c.right); // 40 pixels right turns about y, 20 down about x
        EXPECT_FLOAT_EQ(modelAngleY, c.model);
        EXPECT_FLOAT_EQ(textureAngleY, c.texture);
        EXPECT_FLOAT_EQ(modelAngleX, c.model / 2);
        EXPECT_FLOAT_EQ(textureAngleX, c.texture / 2);
    }
}

TEST(InteractionTest, WheelZoomsInNotchesWithinOneToTen) {
    // Wheel deltas from zoom 3.0, each with the zoom it leaves.
    const std::vector<std::pair<int, float>> steps[] = {
        {{120, 1.8f}, {120, 1.0f}},
        {{-120, 4.2f}, {-120, 5.4f}, {-120, 6.6f}, {-120, 7.8f}, {-120, 9.0f}, {-120, 10.0f}},
        {{0, 3.0f}}};
    for (const auto& sequence : steps) {
        zoom = 3.0f;
        for (const auto& [delta, expected] : sequence) {
            zoomStep(delta);
            EXPECT_FLOAT_EQ(zoom, expected) << "delta " << delta;
        }
    }
}
