#include "testsupport.h"
#include "ui_mainwindow.h"

#include <QMainWindow>

TEST(FormTest, StartsWithTheBunnyTheXyPlaneAndTheMiddleSliceInSeparateGroups) {
    ensureApplication();
    QMainWindow window;
    Ui_MainWindow ui;
    ui.setupUi(&window);
    const QSlider* slider = ui.sliceSlider;
    EXPECT_EQ(std::make_tuple(slider->minimum(), slider->maximum(), slider->value()),
              std::make_tuple(0, 100, 50));
    // One mark per radio (bunny, cube | XY, XZ, YZ): each group keeps exactly one checked.
    const auto checked = [&] {
        std::string marks;
        for (QRadioButton* radio :
             {ui.viewBunnyRadio, ui.viewCubeRadio, ui.viewXyRadio, ui.viewXzRadio, ui.viewYzRadio})
            marks += radio->isChecked() ? 'x' : '.';
        return marks;
    };
    EXPECT_EQ(checked(), "x.x..");
    ui.viewCubeRadio->click();
    ui.viewXzRadio->click();
    EXPECT_EQ(checked(), ".x.x.");
}
