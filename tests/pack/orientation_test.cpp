#include "orientation.h"
#include "packsupport.h"

#include <cmath>

namespace {
// Where the axes point, in RAS+ (patient) or the world's frame.
AxisDirections world(std::initializer_list<std::initializer_list<double>> axes,
                     bool patient = true) {
    AxisDirections directions;
    directions.frame = AxisFrame::World;
    directions.patient = patient;
    directions.from = "the test";
    int i = 0;
    for (const auto& axis : axes) {
        int a = 0;
        for (double v : axis)
            directions.axis[i][a++] = v;
        ++i;
    }
    return directions;
}

std::string mapWords(const AxisMap& map) {
    std::string words;
    for (int a = 0; a < 3; ++a)
        words += std::string(map.reversed[a] ? "-" : "+") + "ijk"[map.from[a]];
    return words;
}

// The rule against what nibabel's io_orientation gives for the same affines, turned to LAS.
TEST(OrientationTest, EachFrameTakesTheClosestAxes) {
    const double c = std::cos(M_PI / 6), s = std::sin(M_PI / 6);
    const struct {
        const char* what;
        AxisDirections axes;
        const char* map;
        double degrees;
    } cases[] = {
        {"RAS, as NIfTI stores it", world({{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}), "-i+j+k", 0},
        {"LPS, as DICOM stores an axial", world({{-1, 0, 0}, {0, -1, 0}, {0, 0, 1}}), "+i-j+k", 0},
        {"LAS, as dcm2niix stores it", world({{-1, 0, 0}, {0, 1, 0}, {0, 0, 1}}), "+i+j+k", 0},
        // Rows toward posterior, columns toward inferior, slices toward the right.
        {"sagittal", world({{0, -1, 0}, {0, 0, -1}, {1, 0, 0}}), "-k-i-j", 0},
        // Rows toward the left, columns toward inferior, slices toward posterior.
        {"coronal", world({{-1, 0, 0}, {0, 0, -1}, {0, -1, 0}}), "+i-k-j", 0},
        {"scaled and oblique by 30 degrees about z",
         world({{2 * c, 2 * s, 0}, {-3 * s, 3 * c, 0}, {0, 0, 0.5}}), "-i+j+k", 30},
        // Nearer 45 degrees the file axis closest to an axis takes it first.
        {"oblique by 40 degrees",
         world({{std::cos(0.7), std::sin(0.7), 0}, {-std::sin(0.7), std::cos(0.7), 0}, {0, 0, 1}}),
         "-i+j+k", 40.1},
        {"a world without a patient", world({{0, 1, 0}, {1, 0, 0}, {0, 0, -1}}, false), "+j+i-k",
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Orientation o = orientAxes(c.axes);
        EXPECT_FALSE(o.degenerate);
        EXPECT_EQ(mapWords(o.map), c.map);
        EXPECT_NEAR(o.obliqueDegrees, c.degrees, 0.1);
    }
    AxisDirections array;
    EXPECT_EQ(mapWords(orientAxes(array).map), "+i-j+k");
    array.frame = AxisFrame::Viewer;
    EXPECT_TRUE(orientAxes(array).map.identity());
    for (const AxisDirections& flat :
         {world({{1, 0, 0}, {2, 0, 0}, {0, 0, 1}}), world({{0, 0, 0}, {0, 1, 0}, {0, 0, 1}}),
          world({{NAN, 0, 0}, {0, 1, 0}, {0, 0, 1}})}) {
        const Orientation o = orientAxes(flat);
        EXPECT_TRUE(o.degenerate);
        EXPECT_TRUE(o.map.identity());
        EXPECT_EQ(describeOrientation([&] {
                      VolumeInfo info;
                      info.axes = flat;
                      return info;
                  }()),
                  "as stored: the test places the axes nowhere");
    }
}

// A 3^3 RGB cube of distinct samples, as a source, and its bytes.
SliceSource numberedCube(std::string* bytes) {
    for (int i = 0; i < 27; ++i)
        *bytes += std::string{char(i), char(100 + i), char(200 - i)};
    SliceSource cube;
    cube.width = cube.height = cube.depth = 3;
    cube.memory = 5;
    cube.read = [all = *bytes](int z, unsigned char* rgb) {
        all.copy(reinterpret_cast<char*>(rgb), 27, std::size_t(z) * 27);
        return std::string();
    };
    return cube;
}

// Every one of the 48 turns a cube can take, slice by slice or held whole, against the samples
// moved one by one.
TEST(OrientationTest, EveryTurnOfTheCubeMovesEachSampleWhereTheMapSays) {
    std::string bytes;
    const SliceSource cube = numberedCube(&bytes);
    const int perms[6][3] = {{0, 1, 2}, {0, 2, 1}, {1, 0, 2}, {1, 2, 0}, {2, 0, 1}, {2, 1, 0}};
    for (const auto& perm : perms)
        for (int signs = 0; signs < 8; ++signs) {
            AxisMap map;
            for (int a = 0; a < 3; ++a) {
                map.from[a] = perm[a];
                map.reversed[a] = (signs >> a) & 1;
            }
            SCOPED_TRACE(mapWords(map));
            const SliceSource turned = orientCube(cube, map);
            std::string got(81, '\0');
            for (int z = 0; z < 3; ++z)
                ASSERT_EQ(turned.read(z, reinterpret_cast<unsigned char*>(&got[27 * z])), "");
            VolumeInfo info;
            info.width = info.height = info.depth = 3;
            info.channels = 3;
            // The oracle's map, from directions that give it.
            info.axes = world({{0, 0, 0}, {0, 0, 0}, {0, 0, 0}}, false);
            for (int a = 0; a < 3; ++a)
                info.axes.axis[map.from[a]][a] = map.reversed[a] ? -1 : 1;
            EXPECT_EQ(got, orientedSamples(info, bytes));
            const bool keepsZ = map.from[2] == 2 && !map.reversed[2];
            EXPECT_EQ(turned.memory, map.identity() ? 5u : keepsZ ? 5u + 27 : 5u + 81);
        }
}

TEST(OrientationTest, WordsSayTheRuleAndTheFileAxes) {
    VolumeInfo info;
    EXPECT_EQ(describeOrientation(info), "rows top-down, as pictures");
    EXPECT_EQ(describeFileAxes(info.axes), "");
    info.axes = world({{0, -1, 0}, {0, 0, -1}, {1, 0, 0}});
    EXPECT_EQ(describeOrientation(info), "oriented LAS from the test (x = -k, y = -i, z = -j)");
    EXPECT_EQ(describeFileAxes(info.axes),
              "i: anterior to posterior, j: superior to inferior, k: left to right");
    info.axes = world({{0, 1, 0}, {1, 0, 0}, {0, 0, -1}}, false);
    EXPECT_EQ(describeOrientation(info),
              "oriented to the world's axes from the test (x = j, y = i, z = -k)");
    EXPECT_EQ(describeFileAxes(info.axes), "i: +y, j: +x, k: -z");
}
} // namespace

// One scan stored twice, its i and k running opposite ways: --pad and --crop, whose spare sample
// along i is odd, give the same cube, the spare at the volume's high side.
TEST(OrientationTest, PaddingAndCroppingLandTheSameWhicheverWayTheFileRuns) {
    std::string forward, backward;
    for (int k = 0; k < 2; ++k)
        for (int j = 0; j < 4; ++j)
            for (int i = 0; i < 3; ++i) {
                forward += char(1 + i + 3 * j + 12 * k);
                backward += char(1 + (2 - i) + 3 * j + 12 * (1 - k));
            }
    const std::string header = "NRRD0004\ntype: uint8\ndimension: 3\nsizes: 3 4 2\nencoding: "
                               "raw\nspace: right-anterior-superior\nspace directions: ";
    writeFile("forward.nrrd", header + "(1,0,0) (0,1,0) (0,0,1)\n\n" + forward);
    writeFile("backward.nrrd", header + "(-1,0,0) (0,1,0) (0,0,-1)\n\n" + backward);
    for (const char* fit : {"--pad", "--crop"}) {
        SCOPED_TRACE(fit);
        for (const char* name : {"forward", "backward"})
            ASSERT_EQ(runTool({"pack", QString(name) + ".nrrd", "-o", QString(name) + ".vol", fit})
                          .status,
                      0);
        const std::vector<unsigned char> a = loadedSamples("forward.vol"),
                                         b = loadedSamples("backward.vol");
        EXPECT_EQ(a, b);
        // x = -i: the forward file's last column is the volume's first, the spare column last.
        if (std::string(fit) == "--pad") {
            ASSERT_EQ(a.size(), 3u * 64);
            EXPECT_EQ(a[3 * 16], 3); // (0, 0, 1): i = 2, j = 0, k = 0
            EXPECT_EQ(a[3 * 19], 0); // (3, 0, 1): padding
        } else {
            ASSERT_EQ(a.size(), 3u * 8);
            EXPECT_EQ(a[0], 6); // i = 2, j = 1, k = 0
        }
    }
}
