#include "options.h"

#include "manualpage.h"

#include <algorithm>
#include <numeric>
#include <sstream>

namespace {
const std::size_t helpWidth = 98;  // the widest line of any help text
const std::size_t termColumn = 28; // where the options' help starts

// The words of text as lines of at most width characters, each after indent spaces but the
// first, which follows what stands before it.
std::string wrapped(const std::string& text, std::size_t first, std::size_t indent) {
    std::istringstream words(text);
    std::string out, word;
    std::size_t column = first;
    bool lineStart = true;
    while (words >> word) {
        if (!lineStart && column + 1 + word.size() > helpWidth) {
            out += "\n" + std::string(indent, ' ');
            column = indent;
            lineStart = true;
        }
        out += (lineStart ? "" : " ") + word;
        column += (lineStart ? 0 : 1) + word.size();
        lineStart = false;
    }
    return out;
}

// Letters added, dropped, changed or swapped with their neighbour to turn a into b.
std::size_t editDistance(const std::string& a, const std::string& b) {
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i)
        d[i][0] = i;
    std::iota(d[0].begin(), d[0].end(), std::size_t(0));
    for (std::size_t i = 1; i <= a.size(); ++i)
        for (std::size_t j = 1; j <= b.size(); ++j) {
            d[i][j] = std::min(
                {d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] != b[j - 1])});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    return d[a.size()][b.size()];
}
} // namespace

QStringList optionNames(const Option& option) {
    return QString(option.names).split(',');
}

QCommandLineOption parserOption(const Option& option) {
    QCommandLineOption parsed(optionNames(option), option.help);
    if (*option.value)
        parsed.setValueName(option.value);
    return parsed;
}

std::string optionTerm(const Option& option) {
    std::string term;
    for (const QString& name : optionNames(option))
        term += (term.empty() ? "" : ", ") + std::string(name.size() == 1 ? "-" : "--") +
                name.toStdString();
    return *option.value ? term + " " + option.value : term;
}

bool readIntegerIn(const QString& text, int lo, int hi, int* value) {
    bool good = true;
    *value = text.toInt(&good);
    return good && *value >= lo && *value <= hi;
}

std::string optionHelp(const std::vector<Option>& options) {
    std::string help;
    for (const Option& option : options) {
        const std::string term = "  " + optionTerm(option);
        if (term.size() + 2 <= termColumn)
            help += term + std::string(termColumn - term.size(), ' ');
        else
            help += term + "\n" + std::string(termColumn, ' ');
        help += wrapped(option.help, termColumn, termColumn) + "\n";
    }
    return help;
}

std::string optionRoff(const std::vector<Option>& options) {
    std::string roff;
    for (const Option& option : options) {
        std::string term;
        for (const QString& name : optionNames(option))
            term += (term.empty() ? "" : ", ") + std::string("\\fB") +
                    roffText((name.size() == 1 ? "-" : "--") + name.toStdString()) + "\\fR";
        if (*option.value)
            term += " \\fI" + roffText(option.value) + "\\fR";
        roff += ".TP\n" + term + "\n" + roffText(option.help) + "\n";
    }
    return roff;
}

std::string optionMarkdown(const std::vector<Option>& options) {
    std::string table = "| option | what it does |\n|---|---|\n";
    for (const Option& option : options)
        table += "| `" + optionTerm(option) + "` | " + option.help + " |\n";
    return table;
}

std::string nearestWord(const std::string& word, const std::vector<std::string>& words) {
    std::string nearest;
    // One slip in three letters; a word too short to carry one gets no guess.
    std::size_t best = word.size() / 3 + 1;
    for (const std::string& candidate : words) {
        const std::size_t distance = editDistance(word, candidate);
        if (distance < best)
            best = distance, nearest = candidate;
    }
    return nearest;
}
