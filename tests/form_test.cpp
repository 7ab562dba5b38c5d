#include "testsupport.h"
#include "ui_mainwindow.h"

#include <QMainWindow>

TEST(Form, ObjectsTextsControlsAndPalette) {
    ensureApplication();
    QMainWindow window;
    Ui_MainWindow ui;
    ui.setupUi(&window);
    for (const char* name :
         {"centralWidget", "gridLayout", "groupBox_2", "gridLayout1", "viewBunnyRadio",
          "viewCubeRadio", "glFrame", "groupBox_7", "gridLayout2", "hboxLayout", "viewXyRadio",
          "viewXzRadio", "viewYzRadio", "sliceSlider", "label_2", "groupBox", "gridLayout3",
          "label", "textureCombo"})
        EXPECT_NE(window.findChild<QObject*>(name), nullptr) << name;

    EXPECT_EQ(window.windowTitle(), "Tessary");
    EXPECT_EQ(window.size(), QSize(597, 643));
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
    EXPECT_EQ(slider->maximumSize(), QSize(999999, 16777215));

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
    EXPECT_EQ(checked(), ".xx..");
    ui.viewXzRadio->click();
    EXPECT_EQ(checked(), ".x.x.");

    // One letter per colour role, WindowText to AlternateBase; the letters name the colours.
    const std::pair<QPalette::ColorGroup, const char*> groups[] = {
        {QPalette::Active, "W00000WWW000HWLV0"},
        {QPalette::Inactive, "W00000WWW000B0LV0"},
        {QPalette::Disabled, "0000000W0000HWLV0"}};
    const std::map<char, QColor> colours = {
        {'0', QColor(0, 0, 0)},       {'W', QColor(255, 255, 255)}, {'H', QColor(49, 106, 197)},
        {'B', QColor(236, 233, 216)}, {'L', QColor(0, 0, 255)},     {'V', QColor(255, 0, 255)}};
    for (const auto& [group, codes] : groups)
        for (int role = QPalette::WindowText; role <= QPalette::AlternateBase; ++role)
            EXPECT_EQ(ui.glFrame->palette().color(group, QPalette::ColorRole(role)),
                      colours.at(codes[role]))
                << "group " << group << " role " << role;
}
