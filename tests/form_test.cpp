// What a user sees of the form: its groups and labels, the slider, the initial choices.
#include "testsupport.h"
#include "ui_mainwindow.h"

#include <QMainWindow>

TEST(FormTest, ShowsItsGroupsAndStartsWithTheBunnyTheXyPlaneAndTheMiddleSlice) {
    ensureApplication();
    QMainWindow window;
    Ui_MainWindow ui;
    ui.setupUi(&window);
    EXPECT_EQ(window.windowTitle(), "Tessary");
    const std::pair<QObject*, const char*> texts[] = {
        {ui.groupBox, "File"},        {ui.label, "Volume:"},        {ui.groupBox_2, "View"},
        {ui.viewBunnyRadio, "Bunny"}, {ui.viewCubeRadio, "Cube"},   {ui.groupBox_7, "Cube Control"},
        {ui.viewXyRadio, "XY Plane"}, {ui.viewXzRadio, "XZ Plane"}, {ui.viewYzRadio, "YZ Plane"},
        {ui.label_2, "Slice:"}};
    for (const auto& [object, text] : texts)
        EXPECT_EQ(object->property(object->inherits("QGroupBox") ? "title" : "text"), text);
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
