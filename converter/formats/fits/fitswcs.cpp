#include "fits/fitswcs.h"

#include "text.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace {
constexpr int maxWcsAxes = 9;

bool readNumber(fitsfile* file, const std::string& key, double* value) {
    int status = 0;
    const bool found = fits_read_key(file, TDOUBLE, key.c_str(), value, nullptr, &status) == 0 &&
                       std::isfinite(*value);
    fits_clear_errmsg();
    return found;
}

std::string readText(fitsfile* file, const std::string& key) {
    char value[FLEN_VALUE] = "";
    int status = 0;
    if (fits_read_key(file, TSTRING, key.c_str(), value, nullptr, &status) != 0)
        value[0] = 0;
    fits_clear_errmsg();
    std::string text = value;
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}

// The FITS standard's default for a celestial axis (RA---TAN, GLAT-CAR, HPLN-TAN, ...).
bool celestial(const std::string& type) {
    if (type.size() < 4)
        return false;
    const std::string head = type.substr(0, 4);
    return head == "RA--" || head == "DEC-" || head.compare(1, 3, "LON") == 0 ||
           head.compare(1, 3, "LAT") == 0 || head.compare(2, 2, "LN") == 0 ||
           head.compare(2, 2, "LT") == 0;
}

// A unit as a multiple of its kind's base, so that axes in degrees and arcseconds compare;
// any other unit compares with itself alone.
struct Unit {
    std::string base;
    double factor = 1;
};

Unit unitOf(const std::string& name) {
    static const struct {
        const char *name, *base;
        double factor;
    } known[] = {
        {"deg", "deg", 1},
        {"arcmin", "deg", 1 / 60.0},
        {"arcsec", "deg", 1 / 3600.0},
        {"mas", "deg", 1 / 3600e3},
        {"rad", "deg", 180 / M_PI},
        {"m", "m", 1},
        {"km", "m", 1e3},
        {"cm", "m", 1e-2},
        {"mm", "m", 1e-3},
        {"um", "m", 1e-6},
        {"nm", "m", 1e-9},
        {"Angstrom", "m", 1e-10},
        {"AU", "m", 1.495978707e11},
        {"pc", "m", 3.0856775814913673e16},
        {"kpc", "m", 3.0856775814913673e19},
        {"Mpc", "m", 3.0856775814913673e22},
    };
    for (const auto& unit : known)
        if (name == unit.name)
            return {unit.base, unit.factor};
    return {name, 1};
}

// The pixel-to-world matrix, world axis i a row, pixel axis j a column; given[i][j] where the
// header sets the scale that element takes.
struct WcsMatrix {
    int worldAxes = 0;
    double m[maxWcsAxes][3] = {};
    bool given[maxWcsAxes][3] = {};
    bool any = false; // whether the header gives any scale at all
};

WcsMatrix readMatrix(fitsfile* file, int naxis) {
    WcsMatrix w;
    double axes = 0;
    w.worldAxes = readNumber(file, "WCSAXES", &axes) && axes >= naxis && axes <= maxWcsAxes
                      ? int(axes)
                      : std::min(naxis, maxWcsAxes);
    bool pc = false, cd = false;
    double value = 0;
    for (int i = 1; i <= w.worldAxes; ++i)
        for (int j = 1; j <= 3; ++j) {
            pc = pc || readNumber(file, formatString("PC%d_%d", i, j), &value);
            cd = cd || readNumber(file, formatString("CD%d_%d", i, j), &value);
        }
    // As WCSLIB does: PC with CDELT where both forms are given.
    const bool byCd = cd && !pc;
    for (int i = 0; i < w.worldAxes; ++i) {
        double delta = 1;
        const bool deltaGiven = !byCd && readNumber(file, formatString("CDELT%d", i + 1), &delta);
        for (int j = 0; j < 3; ++j) {
            double element = byCd || i != j ? 0 : 1;
            const bool read = readNumber(
                file, formatString(byCd ? "CD%d_%d" : "PC%d_%d", i + 1, j + 1), &element);
            w.m[i][j] = byCd ? element : delta * element;
            w.given[i][j] = byCd ? read : deltaGiven;
            w.any = w.any || w.given[i][j];
        }
    }
    return w;
}

// A world axis's unit: CUNITi, or degrees for a celestial axis that names none.
std::string axisUnit(fitsfile* file, int i) {
    const std::string unit = readText(file, formatString("CUNIT%d", i + 1));
    if (!unit.empty())
        return unit;
    return celestial(readText(file, formatString("CTYPE%d", i + 1))) ? "deg" : "";
}

// The unit the spacing is given in, each world axis's factor into it; "" with *note set when
// the axes' units do not compare.
std::string commonUnit(fitsfile* file, const WcsMatrix& w, double factors[], std::string* note) {
    std::vector<int> rows;
    std::vector<std::string> names;
    for (int i = 0; i < w.worldAxes; ++i)
        if (w.m[i][0] != 0 || w.m[i][1] != 0 || w.m[i][2] != 0) {
            rows.push_back(i);
            names.push_back(axisUnit(file, i));
        }
    bool same = true, comparable = true;
    for (const std::string& name : names) {
        same = same && name == names[0];
        comparable = comparable && !name.empty() && unitOf(name).base == unitOf(names[0]).base;
    }
    if (names.empty() || same)
        return names.empty() ? std::string() : names[0];
    if (!comparable) {
        std::string listed;
        for (const std::string& name : names)
            listed += (listed.empty() ? "" : ", ") + (name.empty() ? "none" : printableText(name));
        *note = "the world axes' units differ: " + listed;
        return std::string();
    }
    for (std::size_t k = 0; k < rows.size(); ++k)
        factors[rows[k]] = unitOf(names[k]).factor;
    return unitOf(names[0]).base;
}
} // namespace

void readWcsSpacing(fitsfile* file, int naxis, VolumeInfo* info) {
    const WcsMatrix w = readMatrix(file, naxis);
    if (!w.any)
        return;
    double factors[maxWcsAxes];
    std::fill_n(factors, maxWcsAxes, 1.0);
    std::string note;
    const std::string unit = commonUnit(file, w, factors, &note);
    if (!note.empty()) {
        info->spacingNote = note;
        return;
    }
    bool all = true;
    for (int j = 0; j < 3; ++j) {
        double squares = 0;
        bool known = true;
        for (int i = 0; i < w.worldAxes; ++i) {
            squares += std::pow(w.m[i][j] * factors[i], 2);
            known = known && (w.m[i][j] == 0 || w.given[i][j]);
        }
        const double length = std::sqrt(squares);
        known = known && length > 0 && std::isfinite(length);
        info->axisSpacingKnown[j] = known;
        info->spacing[j] = known ? length : 1;
        all = all && known;
    }
    info->spacingKnown = all;
    info->spacingUnit = unit;
}
