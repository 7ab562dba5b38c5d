#include "manualpage.h"

#include "options.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <sstream>

namespace {
const std::string::size_type none = std::string::npos;

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);)
        lines.push_back(line);
    return lines;
}

std::string::size_type indentOf(const std::string& line) {
    return line.find_first_not_of(' ');
}

// Where the text after an item's first gap of two or more spaces begins, or none.
std::string::size_type descriptionColumn(const std::string& line) {
    const auto gap = line.find("  ", indentOf(line));
    return gap == none ? none : line.find_first_not_of(' ', gap);
}

// The column at which a block's items describe their terms: one that at least two of its lines
// share, either as the start of an item's description or as a continuation's indent.
std::string::size_type termColumn(const std::vector<std::string>& block) {
    const auto itemIndent = indentOf(block.front());
    std::map<std::string::size_type, int> counts;
    for (const std::string& line : block)
        ++counts[indentOf(line) > itemIndent ? indentOf(line) : descriptionColumn(line)];
    counts.erase(none);
    for (const auto& [column, count] : counts)
        if (count >= 2)
            return column;
    return none;
}

// A block of indented lines: an item at each line of the block's least indent, the deeper
// lines continuing it. An item is a term and its description when the description starts at
// the block's column or after a gap of three spaces or more.
std::string roffBlock(const std::vector<std::string>& block) {
    const auto itemIndent = indentOf(block.front()), column = termColumn(block);
    std::string roff;
    for (const std::string& line : block) {
        const auto indent = indentOf(line);
        if (indent > itemIndent) {
            roff += roffText(line.substr(indent)) + "\n";
        } else if (const auto gap = line.find("  ", indent), description = descriptionColumn(line);
                   description != none && (description == column || description - gap >= 3)) {
            roff += ".TP\n\\fB" + roffText(line.substr(indent, gap - indent)) + "\\fR\n" +
                    roffText(line.substr(description)) + "\n";
        } else {
            roff += ".IP \"\" 4\n" + roffText(line.substr(indent)) + "\n";
        }
    }
    return roff;
}

// 'usage: tessary-vol pack INPUT... -o OUT.vol' as the program and command in bold, then the
// rest.
std::string roffUsage(const std::string& usage) {
    const auto command = usage.find(' ', usage.find(' ') + 1);
    if (command == none)
        return "\\fB" + roffText(usage) + "\\fR\n";
    return "\\fB" + roffText(usage.substr(0, command)) + "\\fR" + roffText(usage.substr(command)) +
           "\n";
}

std::string commandSection(const Command& command) {
    const std::string help = command.help, usagePrefix = "usage: ";
    std::string roff = ".SS " + roffText(command.name) + "\n";
    if (help.compare(0, usagePrefix.size(), usagePrefix) != 0)
        return roff + roffHelpText(help) + optionRoff(command.options);
    const auto end = help.find('\n');
    roff += roffUsage(help.substr(usagePrefix.size(), end - usagePrefix.size())) + ".PP\n";
    roff += end == none ? "" : roffHelpText(help.substr(end + 1));
    return command.options.empty() ? roff : roff + "options:\n" + optionRoff(command.options);
}

// The summary as the NAME section wants it: in lower case, without a full stop.
std::string nameLine() {
    std::string line = roffText(overviewSummary);
    if (!line.empty() && line.back() == '.')
        line.pop_back();
    if (!line.empty())
        line[0] = char(std::tolower(static_cast<unsigned char>(line[0])));
    return line;
}

std::string examples() {
    std::string roff = ".EX\n";
    for (const std::string& line : splitLines(overviewExamples))
        roff += roffText(line.substr(std::min(line.size(), std::string::size_type(2)))) + "\n";
    return roff + ".EE\n";
}
} // namespace

std::string roffText(const std::string& text) {
    std::string roff;
    for (const char c : text) {
        if (c == '\\')
            roff += "\\e";
        else if (c == '-')
            roff += "\\-";
        else
            roff += c;
    }
    if (!roff.empty() && (roff[0] == '.' || roff[0] == '\''))
        roff.insert(0, "\\&");
    return roff;
}

std::string roffHelpText(const std::string& help) {
    std::string roff;
    std::vector<std::string> block;
    const auto paragraph = [&] {
        if (roff.size() < 4 || roff.compare(roff.size() - 4, 4, ".PP\n") != 0)
            roff += ".PP\n";
    };
    const auto endBlock = [&] {
        if (!block.empty()) {
            roff += roffBlock(block);
            paragraph();
        }
        block.clear();
    };
    for (const std::string& line : splitLines(help)) {
        const auto indent = indentOf(line);
        if (indent != none && indent > 0) {
            block.push_back(line);
            continue;
        }
        endBlock();
        if (indent == none)
            paragraph();
        else
            roff += roffText(line) + "\n";
    }
    endBlock();
    return roff;
}

std::string manualPage(const std::vector<Command>& commands) {
    const std::string version = roffText(programVersion);
    std::string roff = ".TH TESSARY\\-VOL 1 \"\" \"tessary\\-vol " + version +
                       "\" \"User Commands\"\n.SH NAME\ntessary\\-vol \\- " + nameLine() +
                       "\n.SH SYNOPSIS\n.nf\n";
    for (const Command& command : commands)
        roff += "\\fBtessary\\-vol " + roffText(command.synopsis) + "\\fR\n";
    roff += "\\fBtessary\\-vol\\fR COMMAND \\fB\\-\\-help\\fR\n\\fBtessary\\-vol \\-\\-help\\fR\n"
            "\\fBtessary\\-vol \\-\\-version\\fR\n.fi\n.SH DESCRIPTION\n" +
            roffText(overviewSummary) + "\n.PP\nThe commands:\n";
    for (const Command& command : commands)
        roff +=
            ".TP\n\\fB" + roffText(command.synopsis) + "\\fR\n" + roffText(command.summary) + "\n";
    roff += ".PP\n\\fBtessary\\-vol\\fR COMMAND \\fB\\-\\-help\\fR prints the command's part of "
            "this page.\n.SH COMMANDS\n";
    for (const Command& command : commands)
        roff += commandSection(command);
    roff += ".SH \"EXIT STATUS\"\n" + roffHelpText(overviewExitStatus) + ".SH FILES\n" +
            roffHelpText(overviewFiles) + ".SH ENVIRONMENT\n" + roffHelpText(overviewEnvironment) +
            ".SH EXAMPLES\n" + examples() + ".SH \"SEE ALSO\"\n\\fBtessary\\fR(1)\n";
    return roff;
}
