#include "interaction.h"
#include "state.h"

#include <gtest/gtest.h>

#include <vector>

namespace {
void resetState() {
    zoom = 3.0f;
    modelAngleX = modelAngleY = textureAngleX = textureAngleY = 0.0f;
    lastMouseX = lastMouseY = 0;
    lastMouseValid = false;
}
} // namespace

TEST(Interaction, DragTurnsModelOrTextureFromTheSecondMoveOn) {
    // Buttons held, then the expected turns of the model and the texture for 40 pixels.
    const struct {
        bool left, right;
        float model, texture;
    } cases[] = {{true, false, 10, 0}, {false, true, 0, 10}, {true, true, 10, 0}, {0, 0, 0, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "left " << c.left << " right " << c.right);
        resetState(); // lastMouseValid false, as right after a press
        dragStep(140, 60, c.left, c.right);
        EXPECT_TRUE(lastMouseValid);
        EXPECT_EQ(modelAngleX + modelAngleY + textureAngleX + textureAngleY, 0.0f);
        dragStep(180, 60, c.left, c.right);
        EXPECT_FLOAT_EQ(modelAngleY, c.model);
        EXPECT_FLOAT_EQ(textureAngleY, c.texture);
        EXPECT_EQ(modelAngleX + textureAngleX, 0.0f);
        dragStep(180, 80, c.left, c.right); // 20 pixels down turns about x
        EXPECT_FLOAT_EQ(modelAngleX, c.model / 2);
        EXPECT_FLOAT_EQ(textureAngleX, c.texture / 2);
        EXPECT_FLOAT_EQ(modelAngleY, c.model);
        EXPECT_EQ(std::make_pair(lastMouseX, lastMouseY), std::make_pair(180, 80));
    }
    modelAngleY = 355.0f;
    dragStep(220, 80, true, false);
    EXPECT_FLOAT_EQ(modelAngleY, 365.0f); // no wrapping
}

TEST(Interaction, WheelZoomsInNotchesWithinOneToTen) {
    const std::vector<std::pair<int, float>> steps[] = {
        // delta, then zoom; each from 3.0
        {{120, 1.8f}, {120, 1.0f}},
        {{-120, 4.2f}, {-120, 5.4f}, {-120, 6.6f}, {-120, 7.8f}, {-120, 9.0f}, {-120, 10.0f}},
        {{0, 3.0f}}};
    for (const auto& sequence : steps) {
        resetState();
        for (const auto& [delta, expected] : sequence) {
            zoomStep(delta);
            EXPECT_FLOAT_EQ(zoom, expected) << "delta " << delta;
        }
    }
}
